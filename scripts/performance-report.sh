#!/usr/bin/env bash
# Writes the performance report (Markdown, on stdout) from Google Benchmark JSON files:
# one row per benchmark that set the counters `ratio` and `goal`.
set -euo pipefail
command -v jq >/dev/null || "$(dirname "$0")/bootstrap.sh"
cat <<'HEAD'
# Performance

Written by `make bench` (scripts/bench.sh); do not edit. Each figure is a ratio against a
baseline measured in the same run on the same machine (1.00: as fast as the baseline), so
figures compare across machines. A goal is the least ratio that meets it.

| benchmark | what is compared | figure | goal | met |
|---|---|---|---|---|
HEAD
met=0
missed=0
while IFS=$'\t' read -r name label ratio goal; do
    if awk -v r="$ratio" -v g="$goal" 'BEGIN { exit !(r >= g) }'; then
        verdict=yes
        met=$((met + 1))
    else
        verdict=no
        missed=$((missed + 1))
    fi
    printf '| `%s` | %s | %.2f | >= %.2f | %s |\n' "$name" "$label" "$ratio" "$goal" "$verdict"
done < <(jq -r '.benchmarks[] | select(.ratio != null and .goal != null)
                | [.name, (.label // ""), .ratio, .goal] | @tsv' "$@")
printf '\n%d of %d goals met.\n' "$met" "$((met + missed))"
