#!/usr/bin/env bash
# Line and branch coverage of the library (frame/ asn1/ codecs/ keys/) and of the platform
# stand-ins (platform/) over the whole suite, with clang's source-based coverage.
# Usage: scripts/coverage.sh [build-dir]   (default build/coverage; the profiles go to a temp dir)
# Prints one llvm-cov summary per part; set KV_COVERAGE_FILES=1 for the per-file tables.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v llvm-profdata-14 > /dev/null || scripts/setup.sh
build=${1:-build/coverage}
flags="-fprofile-instr-generate -fcoverage-mapping"

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 "${launcher[@]}" \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" > /dev/null
cmake --build "$build" -j "$(nproc)"

profiles=$(mktemp -d)
trap 'rm -rf "$profiles"' EXIT
LLVM_PROFILE_FILE="$profiles/%p.profraw" ctest --test-dir "$build" -j "$(nproc)" > "$profiles/ctest.log" \
    || { cat "$profiles/ctest.log"; exit 1; }
tail -n 3 "$profiles/ctest.log"
llvm-profdata-14 merge -sparse -o "$profiles/all.profdata" "$profiles"/*.profraw

# Every instrumented binary the suite ran: the test programs and the shared libraries.
objects=()
while IFS= read -r f; do
    if [ ${#objects[@]} -eq 0 ]; then objects=("$f"); else objects+=(-object "$f"); fi
done < <(find "$build" -maxdepth 5 -type f \
             -perm -u+x ! -path '*/CMakeFiles/*' ! -name '*.sh' | sort -u)

report() { # title, then the regular expression of the files left out
    local title=$1 ignore=$2
    echo "== $title"
    if [ "${KV_COVERAGE_FILES:-0}" = 1 ]; then
        llvm-cov-14 report -instr-profile "$profiles/all.profdata" -ignore-filename-regex "$ignore" "${objects[@]}"
    else
        llvm-cov-14 report -instr-profile "$profiles/all.profdata" -ignore-filename-regex "$ignore" "${objects[@]}" \
            | tail -n 1 | awk '{ printf "lines %s (%s of %s missed), branches %s (%s of %s missed)\n", $10, $9, $8, $13, $12, $11 }'
    fi
}
report "library (frame asn1 codecs keys)" "^/usr/|(^|/)(platform|tests|tools|include)/"
report "platform (platform)" "^/usr/|(^|/)(frame|asn1|codecs|keys|tests|tools|include)/"
