#!/usr/bin/env bash
# The fuzz targets (preset native-fuzz: clang, libFuzzer, ASan and UBSan), one after another.
#   scripts/fuzz.sh           each target for FUZZ_SECONDS (default 600) from its seed corpus
#                             (tests/fuzz/corpus/<target>); what it learns is kept in
#                             build/native-fuzz/corpus/<target>, crashes in .../crashes/<target>
#   scripts/fuzz.sh --check   what `make test` runs: every seed once, then FUZZ_CHECK_SECONDS
#                             (default 5) of fuzzing per target
#   FUZZ_TARGETS="fuzz_scenario ..." selects targets (default: all of tests/fuzz/corpus).
# Prints one line per target (executions, crashes) and "fuzz: N passed, N failed" at the end;
# exit status 0 only when no target crashed.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$root/build/native-fuzz
mode=run
[ "${1:-}" = --check ] && mode=check

scripts/bootstrap.sh || exit 1
if ! cmake --preset native-fuzz >"$build.configure.log" 2>&1 ||
    ! cmake --build --preset native-fuzz --target fuzz_targets >"$build.build.log" 2>&1; then
    echo "fuzz: build failed (logs: $build.configure.log, $build.build.log)"
    tail -n 40 "$build.build.log" 2>/dev/null
    echo "fuzz: 0 passed, 1 failed"
    exit 1
fi

targets=${FUZZ_TARGETS:-$(ls "$root/tests/fuzz/corpus")}
seconds=${FUZZ_SECONDS:-600}
[ "$mode" = check ] && seconds=${FUZZ_CHECK_SECONDS:-5}
export VESSA_MODULE_DIR=$build/modules
passed=0
failed=0
for t in $targets; do
    exe=$build/fuzz/$t
    seeds=$root/tests/fuzz/corpus/$t
    learned=$build/corpus/$t
    crashes=$build/crashes/$t
    log=$build/fuzz-$t.log
    mkdir -p "$learned" "$crashes"
    if [ ! -x "$exe" ]; then
        echo "$t: no executable"
        failed=$((failed + 1))
        continue
    fi
    # Each target runs in a scratch machine root of its own, removed afterwards.
    sim_root=$(mktemp -d)
    status=0
    if [ "$mode" = check ]; then
        # Every seed once (a seed that crashes fails at once), then a short run in a throw-away
        # corpus so the repository's stays as it is.
        VESSA_SIM_ROOT=$sim_root "$exe" -runs=0 "$seeds" >"$log" 2>&1 || status=$?
        if [ "$status" -eq 0 ]; then
            scratch=$(mktemp -d)
            VESSA_SIM_ROOT=$sim_root "$exe" -max_total_time="$seconds" -timeout=25 \
                -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$crashes/" \
                "$scratch" "$seeds" >>"$log" 2>&1 || status=$?
            rm -rf "$scratch"
        fi
    else
        VESSA_SIM_ROOT=$sim_root "$exe" -max_total_time="$seconds" -timeout=25 \
            -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$crashes/" \
            "$learned" "$seeds" >"$log" 2>&1 || status=$?
    fi
    rm -rf "$sim_root"
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
    found=$(find "$crashes" -type f | wc -l)
    if [ "$status" -eq 0 ]; then
        passed=$((passed + 1))
        echo "$t: ${runs:-0} executions in ${seconds} s, 0 crashes"
    else
        failed=$((failed + 1))
        echo "$t: FAILED (status $status) after ${runs:-?} executions; $found input(s) in $crashes; log $log"
        grep -m 1 -A 12 -E '^==[0-9]+==ERROR|runtime error|deadly signal' "$log"
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
