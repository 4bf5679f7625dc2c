#!/usr/bin/env bash
# Builds the native release preset, runs every benchmark executable under bench/ and writes
# docs/performance.md. Benchmarks report ratios against a baseline measured in the same run,
# so their numbers compare across machines; extra arguments go to every benchmark (e.g.
# --benchmark_filter=X).
#
# A benchmark enters docs/performance.md by setting two counters: `ratio` (its figure) and
# `goal` (the least ratio that meets it); its label says what the ratio compares.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/configure-native-release.sh
# Only what the benchmarks need, not the whole preset (its test suites included).
cmake --build --preset native-release --target bench/all
dir=build/native-release/bench
mapfile -t benches < <(find "$dir" -type f -perm -u+x -not -path '*/CMakeFiles/*' 2>/dev/null | sort)
if [ "${#benches[@]}" -eq 0 ]; then
    echo "no benchmarks built yet (bench/ declares none)"
    exit 0
fi
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT
for b in "${benches[@]}"; do
    echo "==== $b"
    "$b" --benchmark_out="$results/$(basename "$b").json" --benchmark_out_format=json "$@"
done
scripts/performance-report.sh "$results"/*.json >docs/performance.md
echo "==== docs/performance.md"
cat docs/performance.md
