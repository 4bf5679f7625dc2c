#!/usr/bin/env bash
# Checks a run summary written by vessa-wine-scenario (the demo's "key=value" lines): every
# requested frame was presented, the display showed at least as many frames, and every
# frame it showed was an application frame, pixel-exact outside the icon's rectangle.
# Usage: check-summary.sh <summary file> <frames>
set -euo pipefail
summary=${1:?usage: check-summary.sh <summary file> <frames>}
frames=${2:?missing frame count}
[ -f "$summary" ] || {
    echo "no summary at $summary" >&2
    exit 1
}
value() { sed -n "s/^$1=//p" "$summary" | tr -d '\r' | head -n1; }
fail=0
expect() {
    local what=$1 ok=$2
    if [ "$ok" != 1 ]; then
        echo "summary: $what ($(tr -d '\r' <"$summary" | grep -E '^(ok|result|framesPresented|scanOuts|newFrames|repeated|exact|mismatched|firstDifference)=' | tr '\n' ' '))" >&2
        fail=1
    fi
}
num() { local v; v=$(value "$1"); [[ "$v" =~ ^[0-9]+$ ]] && echo "$v" || echo -1; }
presented=$(num framesPresented)
shown=$(num scanOuts)
exact=$(num exact)
fresh=$(num newFrames)
repeated=$(num repeated)
mismatched=$(num mismatched)
expect "the run did not succeed" "$([ "$(value ok)" = 1 ] && echo 1 || echo 0)"
expect "$presented of $frames frames presented" "$([ "$presented" -eq "$frames" ] && echo 1 || echo 0)"
expect "only $shown frames shown" "$([ "$shown" -ge "$frames" ] && echo 1 || echo 0)"
expect "$mismatched frames mismatched" "$([ "$mismatched" -eq 0 ] && echo 1 || echo 0)"
expect "$exact of $shown shown frames pixel-exact" "$([ "$exact" -eq "$shown" ] && echo 1 || echo 0)"
expect "new ($fresh) and repeated ($repeated) do not add up to the exact frames" \
    "$([ $((fresh + repeated)) -eq "$exact" ] && echo 1 || echo 0)"
[ "$fail" -eq 0 ] || exit 1
echo "summary: $presented presented, $shown shown ($fresh new, $repeated repeated), all pixel-exact"
