#!/usr/bin/env bash
# Proves that exe-imports.sh rejects each fault it is meant to catch, by feeding it the real
# program's objdump output with one fault planted at a time.
# Usage: exe-imports-selftest.sh <objdump> <exe>
set -euo pipefail
objdump=${1:?usage: exe-imports-selftest.sh <objdump> <exe>}
exe=${2:?missing exe}
check="$(dirname "$0")/exe-imports.sh"
# The real output with the fault in $PLANT planted.
export REAL_OBJDUMP=$objdump
planted="$(dirname "$0")/planted-objdump.sh"

PLANT='' bash "$check" "$planted" "$exe" >/dev/null || {
    echo "the unmodified program is rejected" >&2
    exit 1
}
expect_rejected() {
    local what=$1 plant=$2
    if PLANT=$plant bash "$check" "$planted" "$exe" >/dev/null 2>&1; then
        echo "not caught: $what" >&2
        exit 1
    fi
}
expect_rejected "a runtime DLL import" 's/DLL Name: msvcrt.dll/DLL Name: libstdc++-6.dll/'
expect_rejected "a 32-bit image" 's/020b	(PE32+)/010b	(PE32)/'
expect_rejected "a DLL" 's/^\(	*\)executable$/\1executable\n\1DLL/'
expect_rejected "a file that is not executable" '/^	*executable$/d'
echo "exe-imports.sh rejects every planted fault"
