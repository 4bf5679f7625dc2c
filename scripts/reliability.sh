#!/usr/bin/env bash
# The fault campaign in the native ASan build: every vendor-driver entry and kernel thunk of
# a short interposed scenario failed once at its first call, one at a time; the table of
# outcomes replaces the one between the campaign's markers in docs/reliability.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
mkdir -p build
cmake --preset native-debug >build/native-debug.configure.log 2>&1 || {
    cat build/native-debug.configure.log >&2
    exit 1
}
cmake --build --preset native-debug --target fault_campaign_tests
table=$(mktemp)
trap 'rm -f "$table"' EXIT
status=0
VESSA_MODULE_DIR="$PWD/build/native-debug/modules" VESSA_FAULT_TABLE="$table" \
    build/native-debug/tests/fault_campaign_tests \
    --gtest_filter='FaultCampaign.EveryDriverEntryAndKernelThunkFailedOnceIsSurvived' || status=$?
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
