#!/usr/bin/env bash
# Everything CI runs: bootstrap, then for each build configure, build and run every test.
#   native      preset native-debug (AddressSanitizer + UndefinedBehaviorSanitizer)
#   tsan        preset native-tsan (ThreadSanitizer): only the suites that run several
#               threads at once (target concurrency_tests, ctest label "concurrency")
#   mingw-wine  preset mingw-release, tests under Wine
#   fuzz        preset native-fuzz: every fuzz target over its seed corpus, then a few
#               seconds of fuzzing each (scripts/fuzz.sh --check)
# Prints one summary line per build and finally "N passed, N failed" on a line of its own.
# A configure or build failure counts as one failed test of that build. Exit status 0 only
# when every build and test passed.
#   VESSA_TEST_BUILDS="native tsan mingw-wine fuzz" selects the builds (default: all four).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

CTEST_ARGS=(-j2 --output-on-failure --timeout 300)
builds=${VESSA_TEST_BUILDS:-native tsan mingw-wine fuzz}

scripts/bootstrap.sh || {
    echo "bootstrap failed"
    echo "0 passed, 1 failed"
    exit 1
}

total_passed=0
total_failed=0
summaries=()

# step <log> <command...>: runs a configure/build step, shows the log's tail if it fails.
step() {
    local log=$1
    shift
    if "$@" >"$log" 2>&1; then
        return 0
    fi
    echo "---- $* failed (full log: $log):"
    # The first failing commands with their messages, else the end of the log.
    if grep -qE '^FAILED: |CMake Error' "$log"; then
        grep -E -A 25 '^FAILED: |CMake Error' "$log" | head -n 150
    else
        tail -n 60 "$log"
    fi
    return 1
}

# record <label> <ctest log> <ctest status>: turns ctest's summary into pass/fail counts.
record() {
    local label=$1 log=$2 status=$3 passed=0 failed=0 total line
    line=$(grep -aE '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -n "$line" ]; then
        failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
        total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
        passed=$((total - failed))
    elif ! grep -aq 'No tests were found' "$log"; then
        failed=1 # ctest itself failed before running anything
    fi
    if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1
    fi
    summaries+=("$label: $passed passed, $failed failed")
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
}

# run_build <label> <preset> <target> [runner...]: configure, build (the whole preset for
# target "all", else that target only), test one preset.
run_build() {
    local label=$1 preset=$2 target=$3
    shift 3
    local dir=$root/build/$preset t0=$SECONDS
    local build=(cmake --build --preset "$preset")
    [ "$target" = all ] || build+=(--target "$target")
    mkdir -p "$dir"
    echo "==== $label: configure + build ($preset, $target)"
    if ! step "$dir/configure.log" cmake --preset "$preset" ||
        ! step "$dir/build.log" "${build[@]}"; then
        summaries+=("$label: build FAILED")
        total_failed=$((total_failed + 1))
        return
    fi
    echo "==== $label: tests (built in $((SECONDS - t0)) s)"
    local status=0
    "$@" "${CTEST_ARGS[@]}" 2>&1 | tee "$dir/ctest.log" || status=${PIPESTATUS[0]}
    record "$label" "$dir/ctest.log" "$status"
    echo "==== $label: done in $((SECONDS - t0)) s"
}

# run_fuzz: the fuzz targets' regression run; each target counts as one test.
run_fuzz() {
    local log=$root/build/native-fuzz.test.log t0=$SECONDS line passed failed
    mkdir -p "$root/build"
    echo "==== fuzz: build + every target over its corpus (scripts/fuzz.sh --check)"
    scripts/fuzz.sh --check 2>&1 | tee "$log"
    line=$(grep -aE '^fuzz: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        summaries+=("fuzz: FAILED (no summary)")
        total_failed=$((total_failed + 1))
        return
    fi
    passed=$(sed -E 's/^fuzz: ([0-9]+) passed.*/\1/' <<<"$line")
    failed=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")
    summaries+=("fuzz: $passed passed, $failed failed")
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    echo "==== fuzz: done in $((SECONDS - t0)) s"
}

for b in $builds; do
    case $b in
    native) run_build native native-debug all ctest --test-dir "$root/build/native-debug" ;;
    tsan)
        run_build tsan native-tsan concurrency_tests \
            ctest --test-dir "$root/build/native-tsan" -L concurrency
        ;;
    mingw-wine)
        run_build mingw-wine mingw-release all scripts/wine-ctest.sh "$root/build/mingw-release"
        ;;
    fuzz) run_fuzz ;;
    *)
        summaries+=("$b: unknown build")
        total_failed=$((total_failed + 1))
        ;;
    esac
done

echo
printf '%s\n' "${summaries[@]}"
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
