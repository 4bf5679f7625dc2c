#!/usr/bin/env bash
# Fails when code outside the platform layer (platform/) and the simulated machine (sim/)
# tests which platform it is built for: the system's own code must read the same on both
# builds and reach the platform only through platform/.
# Usage: platform-tests.sh <source root>
set -euo pipefail
root=${1:?usage: platform-tests.sh <source root>}
cd "$root"

# Macros that only a platform test uses, anywhere in a line; and the bare WIN32/linux/unix
# spellings, which also occur in legitimate names (WIN32_LEAN_AND_MEAN), only when a
# preprocessor condition tests them.
anywhere='\b(_WIN32|_WIN64|__WIN32__|__linux__|__linux|__gnu_linux__|__unix__|__unix|__MINGW32__|__MINGW64__|__CYGWIN__|__APPLE__|__MACH__)\b'
condition='^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif|elifdef|elifndef)\b.*\b(WIN32|WIN64|linux|unix)\b'

list=$(mktemp)
trap 'rm -f "$list"' EXIT
find . \( -path ./platform -o -path ./sim -o -path ./cmake -o -path ./build -o -path ./out \
    -o -path ./.git -o -name 'build-*' \) -prune -o -type f \
    \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.cxx' -o -name '*.h' -o -name '*.hh' \
    -o -name '*.hpp' -o -name '*.hxx' -o -name '*.inc' -o -name '*.inl' -o -name '*.ipp' \
    -o -name '*.def' -o -name '*.rc' \) -print0 >"$list"

# grep's status is per batch of files, so the printed matches decide.
hits=$(xargs -0 -r grep -nE -e "$anywhere" -e "$condition" /dev/null <"$list" || true)
if [ -n "$hits" ]; then
    printf '%s\n' "$hits"
    echo "platform tests found outside platform/ and sim/ (move them into the platform layer)" >&2
    exit 1
fi
echo "no platform tests outside platform/ and sim/ ($(tr -cd '\0' <"$list" | wc -c) files checked)"
