#!/usr/bin/env bash
# Proves that dll-exports.sh rejects each fault it is meant to catch, by feeding it the real
# DLL's objdump output with one fault planted at a time (and .def files that disagree).
# Usage: dll-exports-selftest.sh <objdump> <dll> <def file>
set -euo pipefail
objdump=${1:?usage: dll-exports-selftest.sh <objdump> <dll> <def file>}
dll=${2:?missing dll}
def=${3:?missing def file}
check="$(dirname "$0")/dll-exports.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The real output with the fault in $PLANT planted.
export REAL_OBJDUMP=$objdump
planted="$(dirname "$0")/planted-objdump.sh"

PLANT='' bash "$check" "$planted" "$dll" "$def" >/dev/null || {
    echo "the unmodified DLL is rejected" >&2
    exit 1
}
expect_rejected() {
    local what=$1 plant=$2 deffile=$3
    if PLANT=$plant bash "$check" "$planted" "$dll" "$deffile" >/dev/null 2>&1; then
        echo "not caught: $what" >&2
        exit 1
    fi
}
expect_rejected "a kernel-thunk import" '/DLL Name: KERNEL32.dll/{n;a\
	91c0	  283  D3DKMTPresent
}' "$def"
expect_rejected "a runtime DLL import" 's/DLL Name: msvcrt.dll/DLL Name: libwinpthread-1.dll/' "$def"
expect_rejected "a 32-bit image" 's/020b	(PE32+)/010b	(PE32)/' "$def"
expect_rejected "an EXE" '/^	DLL$/d' "$def"

sed '/^[[:space:]]*EXPORTS/a\    vessaNotExported' "$def" >"$tmp/extra.def"
expect_rejected "an export the DLL lacks" '' "$tmp/extra.def"
awk '/^[[:space:]]*EXPORTS/ {print; e=1; next} e && NF && !done {done=1; next} {print}' "$def" >"$tmp/fewer.def"
expect_rejected "an export the .def lacks" '' "$tmp/fewer.def"
sed 's/^LIBRARY.*/LIBRARY other.dll/' "$def" >"$tmp/name.def"
expect_rejected "a wrong library name" '' "$tmp/name.def"
echo "dll-exports.sh rejects every planted fault"
