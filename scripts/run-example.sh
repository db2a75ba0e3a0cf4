#!/usr/bin/env bash
# Builds halvard and runs it on the example repository: Windows 2008 Server,
# machine type 6123, batch file written to build-example/example.bat, then shows it.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null; then
    scripts/install-deps.sh
fi
cmake -S . -B build-example -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build build-example --target halvard >/dev/null

rm -f build-example/example.bat
status=0
build-example/halvard example-repo/repo /W:5 /M:6123 /B:build-example/example.bat || status=$?
echo
echo "Exit code: $status"
if [ -f build-example/example.bat ]; then
    echo "== build-example/example.bat =="
    cat build-example/example.bat
fi
