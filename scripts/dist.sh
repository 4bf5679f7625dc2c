#!/usr/bin/env bash
# make dist: builds the Windows release (MinGW) of the three shipped binaries and assembles
# the installation tree that docs/install.md describes, in out/dist (VESSA_DIST_DIR to
# change it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
out=${VESSA_DIST_DIR:-$root/out/dist}
build=$root/build/mingw-release

scripts/bootstrap.sh
[ -f "$build/CMakeCache.txt" ] || cmake --preset mingw-release
cmake --build --preset mingw-release --target vessad3d9u ConfigurationController v_WatchDog
bash scripts/dist-assemble.sh "$root" "$build" "$out"
