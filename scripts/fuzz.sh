#!/usr/bin/env bash
# The fuzz targets (preset native-fuzz: clang, libFuzzer, ASan and UBSan).
#   scripts/fuzz.sh           each target for FUZZ_SECONDS (default 600) from its seed corpus
#                             (tests/fuzz/corpus/<target>); what it learns is kept in
#                             build/native-fuzz/corpus/<target>, crashes in .../crashes/<target>
#   scripts/fuzz.sh --check   what `make test` runs: every seed once, then FUZZ_CHECK_SECONDS
#                             (default 5) of fuzzing per target
#   FUZZ_TARGETS="fuzz_scenario ..." selects targets (default: all of tests/fuzz/corpus).
#   FUZZ_RUNS=N               stops each target after N executions instead of after a time
#                             (FUZZ_SECONDS, when also set, still bounds each target).
#   FUZZ_JOBS=N               runs N targets at once (default 1); FUZZ_NICE=N runs them at
#                             that nice level (default 0), so a long run can share a machine.
# Prints one line per target (executions, seconds, crashes) and "fuzz: N passed, N failed" at
# the end; exit status 0 only when no target crashed.
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
if [ "$mode" = check ]; then
    seconds=${FUZZ_CHECK_SECONDS:-5}
elif [ -n "${FUZZ_RUNS:-}" ]; then
    seconds=${FUZZ_SECONDS:-0} # 0: no time bound
else
    seconds=${FUZZ_SECONDS:-600}
fi
jobs=${FUZZ_JOBS:-1}
scratch_base=${TMPDIR:-/tmp}
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
niceness=${FUZZ_NICE:-0}
export VESSA_MODULE_DIR=$build/modules

# fuzz_one TARGET: one target's run; its outcome goes to build/native-fuzz/fuzz-TARGET.result
# as "status executions seconds".
fuzz_one() {
    local t=$1 exe=$build/fuzz/$1 seeds=$root/tests/fuzz/corpus/$1
    local learned=$build/corpus/$1 crashes=$build/crashes/$1 log=$build/fuzz-$1.log
    local result=$build/fuzz-$1.result status=0 t0=$SECONDS sim_root scratch runs
    mkdir -p "$learned" "$crashes"
    if [ ! -x "$exe" ]; then
        echo "no-executable 0 0" >"$result"
        return
    fi
    local bounds=(-timeout=25 -rss_limit_mb=2560 -print_final_stats=1
        -artifact_prefix="$crashes/")
    [ "$seconds" -gt 0 ] && bounds+=(-max_total_time="$seconds")
    [ "$mode" = run ] && [ -n "${FUZZ_RUNS:-}" ] && bounds+=(-runs="$FUZZ_RUNS")
    # Each target runs in a scratch machine root of its own, removed afterwards; in memory
    # where the host offers it, since the simulated machine's files are opened and written
    # many times per input (the log is reopened for every line), which on a disk halves the
    # rate of the targets that read files.
    sim_root=$(mktemp -d -p "$scratch_base")
    if [ "$mode" = check ]; then
        # Every seed once (a seed that crashes fails at once), then a short run in a throw-away
        # corpus so the repository's stays as it is.
        VESSA_SIM_ROOT=$sim_root nice -n "$niceness" "$exe" -runs=0 "$seeds" >"$log" 2>&1 ||
            status=$?
        if [ "$status" -eq 0 ]; then
            scratch=$(mktemp -d)
            VESSA_SIM_ROOT=$sim_root nice -n "$niceness" "$exe" "${bounds[@]}" \
                "$scratch" "$seeds" >>"$log" 2>&1 || status=$?
            rm -rf "$scratch"
        fi
    else
        # Long runs leave the leak check to each target's exit: the stores' caches grow by
        # design as inputs find new values, and a leak check after every such input would
        # halve their rate. What the exit check reports still fails the run.
        VESSA_SIM_ROOT=$sim_root nice -n "$niceness" "$exe" "${bounds[@]}" -detect_leaks=0 \
            "$learned" "$seeds" >"$log" 2>&1 || status=$?
    fi
    rm -rf "$sim_root"
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$log" | tail -n 1)
    echo "$status ${runs:-0} $((SECONDS - t0))" >"$result"
}

running=0
for t in $targets; do
    rm -f "$build/fuzz-$t.result"
    fuzz_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

passed=0
failed=0
for t in $targets; do
    read -r status runs took <"$build/fuzz-$t.result" 2>/dev/null || status=missing
    crashes=$build/crashes/$t
    if [ "$status" = 0 ]; then
        passed=$((passed + 1))
        echo "$t: ${runs} executions in ${took} s, 0 crashes"
    elif [ "$status" = no-executable ]; then
        failed=$((failed + 1))
        echo "$t: no executable"
    else
        failed=$((failed + 1))
        echo "$t: FAILED (status $status) after ${runs:-?} executions;" \
            "$(find "$crashes" -type f | wc -l) input(s) in $crashes; log $build/fuzz-$t.log"
        grep -m 1 -A 12 -E '^==[0-9]+==ERROR|runtime error|deadly signal' "$build/fuzz-$t.log"
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
