#!/usr/bin/env bash
# Every test: set up, then build and run the suite with gcc (optimised, as the main job builds,
# warnings as errors) and again under valgrind memcheck; run the fuzz targets briefly; build and
# run the suite with clang under AddressSanitizer and UndefinedBehaviorSanitizer and under
# ThreadSanitizer; cross-build it for i386 and arm64 and run it under qemu-user; last, build and
# check the Debian packages. Each stage reports how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
started=$(date +%s)
stage_start=$started
stage_done() {
    local now
    now=$(date +%s)
    echo "== stage $1: $((now - stage_start)) s (total $((now - started)) s)"
    stage_start=$now
}
clang=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)

cmake -S . -B build/gcc -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_WERROR=ON \
      -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DKV_BUILD_BENCH=ON
cmake --build build/gcc -j "$jobs"
ctest --test-dir build/gcc --output-on-failure -j "$jobs"
stage_done gcc

# The same build under valgrind memcheck: any error or lost block fails the test.
memcheck="--error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect"
memcheck+=" --show-leak-kinds=definite,indirect"
ctest --test-dir build/gcc --output-on-failure -j "$jobs" -T memcheck \
    --overwrite MemoryCheckCommand=/usr/bin/valgrind \
    --overwrite "MemoryCheckCommandOptions=$memcheck" \
    --overwrite "MemoryCheckSuppressionFile=$PWD/scripts/valgrind.supp"
stage_done valgrind

# The fuzz targets, briefly and with a fixed seed, over their seeds and the test vectors.
fuzzers=(asn1rt_fuzz decode_entry_points_fuzz round_trip_fuzz convert_public_key_fuzz
         export_public_key_fuzz import_key_trans_fuzz import_key_agree_fuzz enveloped_decode_fuzz)
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_FUZZ=ON \
      -DKV_BUILD_TESTS=OFF -DKV_WERROR=ON "${clang[@]}"
cmake --build build/fuzz -j "$jobs" --target "${fuzzers[@]}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/vectors"
find tests/data -name '*.der' -size -64k -exec cp {} "$work/vectors" \;
for fuzzer in "${fuzzers[@]}"; do
    corpus="$work/corpus-$fuzzer"
    mkdir "$corpus"
    cp "$work"/vectors/* "$corpus"
    [ -d "fuzz/seeds/$fuzzer" ] && cp "fuzz/seeds/$fuzzer"/* "$corpus"
    runs=500000
    case $fuzzer in
    import_key_*) runs=20000 ;;           # every run that gets far does GOST arithmetic
    enveloped_decode_fuzz) runs=200000 ;; # each run parses a whole message
    esac
    build/fuzz/fuzz/$fuzzer -seed=1 -runs=$runs "$corpus" > "$work/log" 2>&1 ||
        { cat "$work/log"; exit 1; }
    echo "$fuzzer: $(tail -n 1 "$work/log")"
done
stage_done fuzz

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON -DKV_WERROR=ON \
      "${clang[@]}"
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build/sanitize --output-on-failure -j "$jobs"
stage_done sanitize

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_TSAN=ON -DKV_WERROR=ON \
      "${clang[@]}"
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build/tsan --output-on-failure -j "$jobs"
stage_done tsan

# i386 and arm64: Debian's cross compilers, the tests under qemu-user (scripts/setup-cross.sh).
scripts/setup-cross.sh
for arch in i386 arm64; do
    cmake -S . -B "build/$arch" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_WERROR=ON \
          -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$arch.cmake"
    cmake --build "build/$arch" -j "$jobs"
    ctest --test-dir "build/$arch" --output-on-failure -j "$jobs"
    stage_done "$arch"
done

# The Debian packages, built in release mode and checked unpacked into a scratch root.
scripts/package.sh
stage_done package
