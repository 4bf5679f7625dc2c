#!/usr/bin/env bash
# Proves that platform-tests.sh catches what it is meant to catch, and only that: a tree
# with platform tests outside platform/ must fail, the same tests inside platform/ and sim/
# and look-alike names (WIN32_LEAN_AND_MEAN) must pass.
set -euo pipefail
check="$(dirname "$0")/platform-tests.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

mkdir -p "$tmp/platform/src" "$tmp/sim/kernel32" "$tmp/src"
printf '#ifdef _WIN32\n#include <windows.h>\n#endif\n' >"$tmp/platform/src/a.cpp"
printf '#if defined(__linux__)\n#endif\n' >"$tmp/sim/kernel32/b.cpp"
printf '#define WIN32_LEAN_AND_MEAN\nWIN32_FIND_DATAW d; // not a test\n' >"$tmp/src/c.cpp"
bash "$check" "$tmp" >/dev/null || {
    echo "clean tree reported as violating" >&2
    exit 1
}

expect_violation() {
    local name=$1 text=$2
    printf '%b' "$text" >"$tmp/src/$name"
    if bash "$check" "$tmp" >/dev/null 2>&1; then
        echo "not caught: $name: $text" >&2
        exit 1
    fi
    rm "$tmp/src/$name"
}
expect_violation ifdef.cpp '#ifdef _WIN32\n#endif\n'
expect_violation linux.h '#if defined(__linux__)\n#endif\n'
expect_violation bare.hpp '#if WIN32\n#endif\n'
expect_violation ifndef.cpp '#  ifndef WIN32\n#endif\n'
expect_violation mingw.inl 'static const bool k = __MINGW64__ != 0;\n'
echo "platform-tests.sh catches every planted platform test"
