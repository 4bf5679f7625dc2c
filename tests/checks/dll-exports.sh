#!/usr/bin/env bash
# Checks the built product DLL's PE headers:
#   - it is a 64-bit (PE32+) DLL;
#   - it imports no kernel thunk (D3DKMT*/NtGdiDdDDI*): those are resolved at run time,
#     because a missing import (Wine's gdi32 lacks several) would stop the DLL from loading;
#   - it imports no MinGW runtime DLL (libstdc++, libgcc, winpthread are linked in);
#   - its export table holds exactly the names the .def file lists, under its LIBRARY name.
# Usage: dll-exports.sh <objdump> <dll> <def file>
set -euo pipefail
objdump=${1:?usage: dll-exports.sh <objdump> <dll> <def file>}
dll=${2:?missing dll}
def=${3:?missing def file}

dump=$("$objdump" -p "$dll") || {
    echo "$objdump -p $dll failed" >&2
    exit 1
}
fail=0
problem() {
    echo "$(basename "$dll"): $*" >&2
    fail=1
}

grep -q 'file format pei-x86-64' <<<"$dump" || problem "not a pei-x86-64 image"
grep -qE '^Magic[[:space:]]+020b[[:space:]]+\(PE32\+\)' <<<"$dump" || problem "not PE32+"
# The characteristics flags are listed one per line after the Characteristics line.
awk '/^Characteristics/ {c=1; next} c && /^[[:space:]]/ {print; next} {c=0}' <<<"$dump" |
    grep -qx '[[:space:]]*DLL' || problem "the DLL characteristic is not set"

imports=$(awk '/DLL Name:/ {dll=$3; next}
    dll != "" && /^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+[^[:space:]]+/ {print dll, $3; next}
    /^$/ {next}
    /^[^[:space:]]/ {dll=""}' <<<"$dump")
thunks=$(grep -iE ' (D3DKMT|NtGdiDdDDI)' <<<"$imports" || true)
[ -z "$thunks" ] || problem "imports kernel thunks: $(tr '\n' ' ' <<<"$thunks")"
runtime=$(grep -oiE 'DLL Name: (libstdc\+\+|libgcc|libwinpthread)[^[:space:]]*' <<<"$dump" || true)
[ -z "$runtime" ] || problem "imports MinGW runtime DLLs: $(tr '\n' ' ' <<<"$runtime")"

# .def: LIBRARY <name>, then EXPORTS entries "name[=internal] [@ordinal] [NONAME|PRIVATE|DATA]".
library=$(sed -n 's/^[[:space:]]*LIBRARY[[:space:]]\+"\?\([^"[:space:]]*\)"\?.*/\1/p' "$def" | head -1)
expected=$(sed 's/;.*//' "$def" | awk '
    /^[[:space:]]*EXPORTS/ {e=1; sub(/^[[:space:]]*EXPORTS/, "")}
    /^[[:space:]]*(LIBRARY|NAME|HEAPSIZE|STACKSIZE|SECTIONS|VERSION)/ {e=0}
    e && NF {split($1, a, "="); print a[1]}' | sort)
actual=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {t=1; next}
    t && /^[[:space:]]*\[/ {sub(/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]*/, ""); print $1; next}
    t {t=0}' <<<"$dump" | sort)
table=$(sed -n 's/^Name[[:space:]]\+[0-9a-f]\+[[:space:]]\+\(.*\)$/\1/p' <<<"$dump" | head -1)

[ -n "$expected" ] || problem "$def lists no exports"
if [ "$expected" != "$actual" ]; then
    problem "export table differs from $(basename "$def")"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") | sed -n 's/^</  missing:/p; s/^>/  extra:  /p' >&2
fi
[ -z "$library" ] || [ "$library" = "$table" ] || problem "export table name '$table', .def says '$library'"

[ "$fail" -eq 0 ] || exit 1
echo "$(basename "$dll"): PE32+ DLL, no kernel-thunk or runtime-DLL imports, exports:" $actual
