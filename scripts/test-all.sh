#!/usr/bin/env bash
# Installs what is missing, builds the native and the Windows build, and runs
# every test: unit and end-to-end tests natively, and again under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
export WINEDEBUG=-all

jobs=$(nproc 2>/dev/null || echo 2)

echo "== Native build =="
cmake -S . -B build -G Ninja
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure

echo "== Windows build (x86_64, under Wine) =="
cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
cmake --build build-win64 -j "$jobs"
ctest --test-dir build-win64 --output-on-failure
