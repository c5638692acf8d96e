#!/bin/sh
# Installs what is missing, builds, and runs every test: once in a normal
# build, once with AddressSanitizer, UndefinedBehaviorSanitizer and libFuzzer.
set -eu
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

echo "== Build and test =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMONITOR_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Build and test with sanitizers and fuzzers =="
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMONITOR_FUZZ=ON >/dev/null
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
