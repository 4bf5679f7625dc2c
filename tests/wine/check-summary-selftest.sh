#!/usr/bin/env bash
# Proves that check-summary.sh accepts a clean 60-frame summary and rejects each fault it
# is meant to catch, planted one at a time.
set -euo pipefail
check="$(dirname "$0")/check-summary.sh"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
good() {
    printf '%s\r\n' name=interposed ok=1 result=ok framesPresented=60 scanOuts=61 compared=61 \
        newFrames=60 repeated=1 exact=61 mismatched=0 firstDifference=
}
good >"$dir/good.txt"
bash "$check" "$dir/good.txt" 60 >/dev/null || {
    echo "a clean summary is rejected" >&2
    exit 1
}
expect_rejected() {
    local what=$1 plant=$2
    good | sed "$plant" >"$dir/planted.txt"
    if bash "$check" "$dir/planted.txt" 60 >/dev/null 2>&1; then
        echo "not caught: $what" >&2
        exit 1
    fi
}
expect_rejected "a failed run" 's/^ok=1/ok=0/'
expect_rejected "a frame not presented" 's/^framesPresented=60/framesPresented=59/'
expect_rejected "fewer frames shown than presented" 's/^scanOuts=61/scanOuts=59/'
expect_rejected "a mismatched frame" 's/^mismatched=0/mismatched=1/'
expect_rejected "a shown frame not pixel-exact" 's/^exact=61/exact=60/'
expect_rejected "new and repeated that do not add up" 's/^repeated=1/repeated=0/'
expect_rejected "a missing count" '/^scanOuts=/d'
if bash "$check" "$dir/absent.txt" 60 >/dev/null 2>&1; then
    echo "not caught: no summary at all" >&2
    exit 1
fi
echo "check-summary.sh rejects every planted fault"
