#!/usr/bin/env bash
# Runs ctest for a MinGW build tree under Wine, in a private Wine prefix inside the build
# tree, with one persistent wineserver for the whole run: without it every test waits for
# the previous wineserver's shutdown delay (about 3 s instead of 0.1 s per test).
# Usage: scripts/wine-ctest.sh <mingw build dir> [ctest arguments...]
#   VESSA_KEEP_WINEPREFIX=1 reuses the prefix of the last run instead of a fresh one.
set -euo pipefail
build=${1:?usage: wine-ctest.sh <mingw build dir> [ctest arguments...]}
shift
build=$(cd "$build" && pwd)

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
# No crash debugger (its dump would land in the test's stdout), no Mono/Gecko installers.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
export WINEARCH=win64

stop_server() { wineserver -k >/dev/null 2>&1 || true; }
stop_server
if [ "${VESSA_KEEP_WINEPREFIX:-0}" != 1 ]; then
    # A fresh prefix per run: tests write registry values and files into it.
    rm -rf "$WINEPREFIX"
fi
trap stop_server EXIT
trap 'exit 130' INT TERM # through the EXIT trap: a persistent server must not outlive us
mkdir -p "$WINEPREFIX"
wineserver -p
# Creates the prefix on first use (about 5 s) and leaves the server warm.
wine cmd /c ver >/dev/null 2>&1 || true

status=0
ctest --test-dir "$build" "$@" || status=$?
exit "$status"
