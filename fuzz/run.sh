#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz/ and runs them under AddressSanitizer and
# UndefinedBehaviorSanitizer, each on its seed corpus in fuzz/corpus/<target>/.
#
#   bash fuzz/run.sh TARGET|all [SECONDS] [libFuzzer options...]
#
# TARGET is one of the names below, without the "fuzz_" prefix; SECONDS (default 60) is the run
# time of each target. New inputs the fuzzer finds go to build-fuzz/corpus/<target>/, crashes to
# build-fuzz/artifacts/<target>/; the seed corpus is only read. The script ends non-zero when any
# target finds a crash, a leak or a time-out.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(copyset_file ini_file log_fields path_text drive_part)
usage() {
    echo "usage: bash fuzz/run.sh {all|${targets[*]// /|}} [SECONDS] [libFuzzer options...]" >&2
    exit 2
}
[ $# -ge 1 ] || usage
which=$1
shift
seconds=60
if [ $# -ge 1 ] && [[ $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
if [ "$which" = all ]; then
    chosen=("${targets[@]}")
elif [[ " ${targets[*]} " == *" $which "* ]]; then
    chosen=("$which")
else
    usage
fi

compiler=${OSTREL_FUZZ_CXX:-$(command -v clang++-14 || command -v clang++ || true)}
if [ -z "$compiler" ]; then
    echo "fuzz/run.sh: clang++ is missing (bash scripts/deps.sh installs it)" >&2
    exit 1
fi
build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" \
    -DOSTREL_FUZZ=ON -DOSTREL_WERROR=ON >/dev/null
cmake --build "$build" --target ostrel_fuzzers -- -j"$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
passed=0
failed=0
summary=()
for target in "${chosen[@]}"; do
    corpus=$build/corpus/$target
    artifacts=$build/artifacts/$target
    log=$build/fuzz-$target.log
    mkdir -p "$corpus" "$artifacts"
    echo "== fuzz_$target for ${seconds} s"
    status=0
    "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$@" "$corpus" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        summary+=("fuzz_$target: ${runs:-?} runs in ${seconds} s, no crash")
    else
        failed=$((failed + 1))
        summary+=("fuzz_$target: FAILED (exit $status) after ${runs:-?} runs; see $log and $artifacts/")
        grep -E -A30 'invariant broken|ERROR: |runtime error' "$log" | head -60 >&2 || tail -40 "$log" >&2
    fi
done

printf '%s\n' "${summary[@]}"
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
