#!/usr/bin/env bash
# The fault campaign in the native ASan build, the full matrix: on each transfer path, every
# vendor-driver entry, kernel thunk, interop operation and failable system call of a short
# interposed scenario failed once at its first, second and middle call, one at a time; the
# tables of outcomes replace those between the campaign's markers in docs/reliability.md.
# (`make test` runs the same suite failing first calls only.)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
mkdir -p build
cmake --preset native-debug >build/native-debug.configure.log 2>&1 || {
    cat build/native-debug.configure.log >&2
    exit 1
}
cmake --build --preset native-debug -j2 --target fault_campaign_tests
table=$(mktemp)
trap 'rm -f "$table"' EXIT
status=0
# One process per path: the simulated machine is installed once per process.
for path in ApiCopy InteropSync InteropAsync; do
    VESSA_MODULE_DIR="$PWD/build/native-debug/modules" VESSA_FAULT_TABLE="$table" \
        VESSA_FAULT_MATRIX=all build/native-debug/tests/fault_campaign_tests \
        --gtest_filter="Paths/FaultCampaign.EverySiteFailedIsSurvived/$path" || status=$?
done
if [ -s "$table" ]; then
    python3 - "$table" <<'PY'
import re, sys
table = open(sys.argv[1]).read()
doc = open("docs/reliability.md").read()
begin, end = "<!-- faults:begin -->", "<!-- faults:end -->"
if begin not in doc or end not in doc:
    sys.exit("docs/reliability.md has no fault campaign markers")
head, rest = doc.split(begin, 1)
_, tail = rest.split(end, 1)
open("docs/reliability.md", "w").write(head + begin + "\n" + table + end + tail)
PY
    echo "the table is in docs/reliability.md"
fi
exit "$status"
