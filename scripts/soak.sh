#!/usr/bin/env bash
# The long soak: 100,000 interposed frames (VESSA_SOAK_FRAMES overrides) in the native
# release build, checked for growth of the heap and of the simulated kernel's live objects
# between the first 1,000 frames and the end. `make test` runs the short version.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/configure-native-release.sh
cmake --build --preset native-release --target soak_tests
export VESSA_MODULE_DIR="$PWD/build/native-release/modules"
VESSA_SOAK_FRAMES="${VESSA_SOAK_FRAMES:-100000}" build/native-release/tests/soak_tests
