#!/usr/bin/env bash
# Builds the benchmarks in release mode, runs them and rewrites bench/RESULTS.md.
#
#   bench/run.sh             timings (median of KV_BENCH_REPETITIONS runs, 5 by default, of
#                            KV_BENCH_MIN_TIME seconds each, 0.2 by default)
#   bench/run.sh --profile   timings and callgrind instruction counts (takes several minutes)
#
# The build goes to build/bench (KV_BENCH_BUILD overrides it). Wall-clock timings on a
# shared machine are noisy: the table reports CPU time, and the callgrind counts do not
# depend on the load at all.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BENCH_BUILD:-$root/build/bench}
repetitions=${KV_BENCH_REPETITIONS:-5}
min_time=${KV_BENCH_MIN_TIME:-0.2} # seconds per repetition
profile=${1:-}

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_BENCH=ON \
    -DKV_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target kvext_bench >/dev/null
bench=$build/bench/kvext_bench

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "$cpu, $(nproc) cores; $("$compiler" --version | head -n1); $(openssl version | cut -d' ' -f1-2); Google Benchmark $(dpkg-query -W -f='${Version}' libbenchmark-dev 2>/dev/null || echo '?'); $(date -u '+%Y-%m-%d %H:%M UTC'); load average $(cut -d' ' -f1-3 /proc/loadavg)" \
    > "$work/machine.txt"

"$bench" --benchmark_repetitions="$repetitions" --benchmark_min_time="$min_time" \
    --benchmark_report_aggregates_only=true --benchmark_out="$work/times.json" \
    --benchmark_out_format=json >/dev/null

if [ "$profile" = --profile ]; then
    mkdir "$work/cg"
    # Symbols bound at start, so that lazy binding does not count as the first calls' work;
    # one-time set-up left in the first calls is spread over a few thousand calls.
    grind() { # output name, benchmark filter, function to count
        LD_BIND_NOW=1 valgrind --tool=callgrind --toggle-collect="$3" \
            --callgrind-out-file="$work/cg/$1.out" \
            "$bench" --benchmark_filter="$2" --benchmark_min_time=0.05 >/dev/null 2>&1
    }
    for item in $(sed -n 's/^    {"\([a-z0-9-]*\)", "[a-z0-9-]*\.der".*/\1/p' "$root/bench/PeerBench.cpp"); do
        grind "peer-$item-decode" "^$item/openssl/decode\$" '*PeerDecode*'
        grind "ours-$item-decode" "^$item/ours/decode\$" '*OurDecodeAlloc*'
        grind "peer-$item-encode" "^$item/openssl/encode\$" '*PeerEncode*'
        grind "ours-$item-encode" "^$item/ours/encode\$" '*OurEncodeAlloc*'
    done
    for call in ExportKeyTrans ImportKeyTrans ExportKeyAgree ImportKeyAgree; do
        for recipient in gost2001_A gost2012_256_A gost2012_512_A; do
            grind "key-$call-$recipient" "^$call/$recipient\$" "OrvaMsgDll$call"
        done
    done
fi

python3 "$root/bench/table.py" "$work" > "$root/bench/RESULTS.md"
echo "bench/RESULTS.md rewritten"
