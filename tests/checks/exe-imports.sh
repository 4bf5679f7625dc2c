#!/usr/bin/env bash
# Checks a built program of ours (v_WatchDog.exe) for what a user's machine needs of it:
#   - it is a 64-bit (PE32+) executable, not a DLL;
#   - it imports no MinGW runtime DLL (libstdc++, libgcc, winpthread are linked in), so it
#     runs from its folder with nothing beside it.
# Usage: exe-imports.sh <objdump> <exe>
set -euo pipefail
objdump=${1:?usage: exe-imports.sh <objdump> <exe>}
exe=${2:?missing exe}

dump=$("$objdump" -p "$exe") || {
    echo "$objdump -p $exe failed" >&2
    exit 1
}
fail=0
problem() {
    echo "$(basename "$exe"): $*" >&2
    fail=1
}

grep -q 'file format pei-x86-64' <<<"$dump" || problem "not a pei-x86-64 image"
grep -qE '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' <<<"$dump" || problem "not PE32+"
characteristics=$(awk '/^Characteristics/ {c=1; next} c && /^[[:space:]]/ {print; next} {c=0}' <<<"$dump")
grep -qx '[[:space:]]*executable' <<<"$characteristics" || problem "not marked executable"
! grep -qx '[[:space:]]*DLL' <<<"$characteristics" || problem "is a DLL"
runtime=$(grep -oiE 'DLL Name: (libstdc\+\+|libgcc|libwinpthread)[^[:space:]]*' <<<"$dump" || true)
[ -z "$runtime" ] || problem "imports MinGW runtime DLLs: $(tr '\n' ' ' <<<"$runtime")"

[ "$fail" -eq 0 ] || exit 1
echo "$(basename "$exe"): PE32+ executable, imports:" $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
