#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang (libFuzzer, address and
# undefined sanitizers) in build-fuzz, writes their seed corpus, and runs each
# target for <seconds>. Fails when a target crashes, hangs, runs out of memory
# or a sanitizer reports. A working corpus per target is kept in
# build-fuzz/fuzz-corpus/<target>, crash inputs go to build-fuzz/fuzz-artifacts/<target>/.
#   scripts/fuzz.sh <seconds> [target...]     (targets: profile ini quant_matrix batch_list avi mplex muxlib resize
#                                             app_profiles settings batch_runner engine)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: scripts/fuzz.sh <seconds> [target...]}
shift
targets=(profile ini quant_matrix batch_list avi mplex muxlib resize app_profiles settings batch_runner engine)
[ $# -eq 0 ] || targets=("$@")

if ! command -v clang >/dev/null || ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang is not installed" >&2
    exit 1
fi
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTESSMAR_BUILD_FUZZ=ON -DTESSMAR_BUILD_BENCH=OFF \
    "${launcher[@]}" >/dev/null
# The targets' work folders go into one folder of this run: a target that
# ends on a crash, a hang or a signal skips its own clean-up.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
work=$(mktemp -d "$shm/tessmar-fuzz-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
export TESSMAR_FUZZ_WORK=$work

programs=()
for t in "${targets[@]}"; do programs+=("fuzz_$t"); done
cmake --build build-fuzz -j "${FUZZ_BUILD_JOBS:-$(nproc)}" --target fuzz_seed_maker "${programs[@]}"
cmake --build build-fuzz --target fuzz_make_seeds

status=0
for t in "${targets[@]}"; do
    # Absolute paths: a target may work in a folder of its own.
    corpus=$PWD/build-fuzz/fuzz-corpus/$t
    artifacts=$PWD/build-fuzz/fuzz-artifacts/$t
    log=build-fuzz/fuzz-$t.log
    mkdir -p "$corpus" "$artifacts"
    if ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1 \
        "build-fuzz/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$PWD/build-fuzz/tests/fuzz/seeds/$t" \
        >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
        echo "fuzz_$t: ok, ${runs:-?} runs, ${cov:-cov: ?}"
    else
        status=1
        echo "fuzz_$t: FAILED (log $log, inputs in $artifacts)"
        grep -m1 -A40 -E '^==[0-9]+==|runtime error|ERROR: libFuzzer' "$log" || tail -40 "$log"
    fi
done
exit $status
