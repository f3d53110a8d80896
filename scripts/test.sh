#!/usr/bin/env bash
# Every test: set up, then build and run the suite with gcc (optimised, as the main job
# builds), run the fuzz targets briefly, and run the suite again built with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer; last, build and check the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DKV_BUILD_BENCH=ON
cmake --build build/gcc -j "$jobs"
ctest --test-dir build/gcc --output-on-failure -j "$jobs"

# The fuzz targets, briefly and with a fixed seed, over the test vectors as their corpus.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_FUZZ=ON -DKV_BUILD_TESTS=OFF \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build/fuzz -j "$jobs" --target asn1rt_fuzz decode_entry_points_fuzz enveloped_decode_fuzz
corpus=$(mktemp -d)
find tests/data -name '*.der' -size -64k -exec cp {} "$corpus" \;
log=$(mktemp)
trap 'rm -rf "$corpus" "$log"' EXIT
for fuzzer in asn1rt_fuzz decode_entry_points_fuzz enveloped_decode_fuzz; do
    build/fuzz/fuzz/$fuzzer -seed=1 -runs=500000 "$corpus" > "$log" 2>&1 || { cat "$log"; exit 1; }
    echo "$fuzzer: $(tail -n 1 "$log")"
done

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/sanitize --output-on-failure -j "$jobs"

# The Debian packages, built in release mode and checked unpacked into a scratch root.
scripts/package.sh
