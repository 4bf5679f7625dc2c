#!/usr/bin/env bash
# Runs the demo briefly (the direct oracle runs and the interposed runs, 12 frames each) and
# checks its summary.json: every run is there with every field, the counts agree with each
# other, direct runs are pixel-exact frame for frame, every run has its timeline picture.
# Every interposed run must show only pixel-exact frames (the icon drawn in the icon run);
# the demo's exit status 3 (some interposed run failed or differed) is then caught by those
# checks, with the run named.
#   demo-summary.sh <vessa-demo> <scenario folder> <work folder>
set -uo pipefail
demo=$1 scenarios=$2 work=$3
rm -rf "$work" && mkdir -p "$work"
"$demo" --scenario "$scenarios/demo-direct.scenario" \
    --scenario "$scenarios/demo-interposed.scenario" --frames 12 --out "$work" >"$work/demo.log" 2>&1
status=$?
cat "$work/demo.log"
if [ "$status" -ne 0 ] && [ "$status" -ne 3 ]; then
    echo "FAIL: vessa-demo exited with $status" >&2
    exit 1
fi
[ "$status" -eq 3 ] && echo "note: interposed runs showed frames that are not pixel-exact"

summary=$work/summary.json
fail=0
check() { # <jq filter that must be true> <message>
    if ! jq -e "$1" "$summary" >/dev/null; then
        echo "FAIL: $2" >&2
        fail=1
    fi
}
check '.runs | map(.name) | sort == ["composited-orr","flip-icon","flip-orr","flip-zari","intel-composited","intel-direct","intel-mode-switch","intel-windowed","nvidia-direct","windowed-orr","windowed-zari"]' \
    "the summary lists every run of both scenarios once"
check 'all(.runs[]; (.frames_presented, .new, .repeated, .pixel_exact, .mismatched, .scan_outs, .compared, .icon_frames, .mean_new_interval_ms, .worst_new_interval_ms | type == "number") and (.transfer_path | type == "string") and (.ok | type == "boolean"))' \
    "every run has every field with its type"
check 'all(.runs[]; .new + .repeated == .pixel_exact and .pixel_exact + .mismatched == .compared and .compared <= .scan_outs)' \
    "new + repeated = pixel-exact, pixel-exact + mismatched = compared <= scan-outs"
check 'all(.runs[]; .mean_new_interval_ms <= .worst_new_interval_ms and (.new > 1 or .worst_new_interval_ms == 0))' \
    "new-frame intervals: mean <= worst, none without two new frames"
check 'all(.runs[]; (.ok | not) or .frames_presented == 12)' \
    "a run that succeeded presented all of its frames"
check 'all(.runs[] | select(.path == "direct"); .ok and .frames_presented == 12 and .scan_outs == 12 and .new == 12 and .pixel_exact == 12 and .mismatched == 0 and (.transfer_path | startswith("none")))' \
    "direct runs show each of their frames once, pixel-exact, with no transfer"
check 'all(.runs[] | select(.path == "interposed"); .ok or .scan_outs == 0 or .compared > 0)' \
    "interposed frames that were shown were compared"
# Through the product, flipping and windowed (Blt into the shared primary, or to the desktop
# compositor), in both pacing policies and with the icon: every shown frame is an
# application frame outside the icon.
check 'all(.runs[] | select(.name | IN("flip-orr","flip-zari","windowed-orr","windowed-zari","composited-orr","flip-icon")); .ok and .frames_presented == 12 and .scan_outs > 0 and .compared == .scan_outs and .mismatched == 0 and .new > 0)' \
    "interposed flip, windowed and composited runs show only pixel-exact frames"
# Each present to the compositor is composed at once: every composition shows a new frame,
# like the direct composited run.
check 'all(.runs[] | select(.name == "composited-orr"); .new == .frames_presented and .repeated == 0)' \
    "the interposed composited run shows every frame it presented"
check 'all(.runs[] | select(.name == "flip-icon"); .icon_frames > 0)' \
    "the icon run shows the icon"
for png in $(jq -r '.runs[].timeline' "$summary"); do
    if [ -z "$png" ] || [ "$(head -c 4 "$work/$png" | tail -c 3)" != "PNG" ]; then
        echo "FAIL: timeline picture '$png' is missing or not a PNG" >&2
        fail=1
    fi
done
[ -s "$work/report.md" ] || { echo "FAIL: report.md is missing" >&2; fail=1; }
exit $fail
