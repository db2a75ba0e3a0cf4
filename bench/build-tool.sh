# Sourced by the benchmark scripts, with SOURCE_DIR, BENCH_DIR, BUILD_DIR and TOOL set:
# builds halvard (Release, no tests) in BUILD_DIR unless TOOL names a program already,
# makes TOOL absolute, and builds the minimal walker beside it as WALKER.
if [[ -z $TOOL ]]; then
    echo "== building halvard (Release) in $BUILD_DIR"
    generator=()
    if command -v ninja > /dev/null; then generator=(-G Ninja); fi
    if [[ ! -f $BUILD_DIR/CMakeCache.txt ]]; then
        cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" "${generator[@]}" \
            -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
    fi
    cmake --build "$BUILD_DIR" -j2 --target halvard > /dev/null
    TOOL=$BUILD_DIR/halvard
fi
TOOL=$(cd "$(dirname "$TOOL")" && pwd)/$(basename "$TOOL")
mkdir -p "$BUILD_DIR"
WALKER=$BUILD_DIR/minimal_walker
echo "== building the minimal walker: $WALKER"
c++ -std=c++17 -O2 -o "$WALKER" "$BENCH_DIR/minimal_walker.cpp"
