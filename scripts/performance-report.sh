#!/usr/bin/env bash
# Writes the performance report (Markdown, on stdout) from Google Benchmark JSON files:
# one row per benchmark that set the counters `ratio` and `goal`. A goal is the least ratio
# that meets it, or the most when the benchmark also set `goal_is_max` to 1 (a cost compared
# with a baseline, where lower is better).
set -euo pipefail
command -v jq >/dev/null || "$(dirname "$0")/bootstrap.sh"
cat <<'HEAD'
# Performance

Written by `make bench` (scripts/bench.sh); do not edit. Each figure is a ratio against a
baseline measured in the same run on the same machine (1.00: as fast as the baseline), so
figures compare across machines. A goal ">= g" is the least ratio that meets it, "<= g" the
most (a cost against its baseline).

| benchmark | what is compared | figure | goal | met |
|---|---|---|---|---|
HEAD
met=0
missed=0
while IFS=$'\t' read -r name label ratio goal most; do
    bound='>='
    [ "$most" = 1 ] && bound='<='
    if awk -v r="$ratio" -v g="$goal" -v b="$bound" \
        'BEGIN { exit !(b == "<=" ? (r > 0 && r <= g) : r >= g) }'; then
        verdict=yes
        met=$((met + 1))
    else
        verdict=no
        missed=$((missed + 1))
    fi
    printf '| `%s` | %s | %.2f | %s %.2f | %s |\n' "$name" "$label" "$ratio" "$bound" "$goal" "$verdict"
done < <(jq -r '.benchmarks[] | select(.ratio != null and .goal != null)
                | [.name, (.label // ""), .ratio, .goal, (.goal_is_max // 0)] | @tsv' "$@")
printf '\n%d of %d goals met.\n' "$met" "$((met + missed))"
