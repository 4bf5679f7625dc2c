#!/usr/bin/env bash
# The demo: builds the native release preset's demo program (and what it loads) if needed,
# then renders the scenes on the simulated hybrid machine. Frames and a report land in
# out/demo/. Extra arguments go to vessa-demo (--scenario FILE, --frames N, --rate HZ).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/configure-native-release.sh
cmake --build --preset native-release --target vessa-demo
exec build/native-release/bin/vessa-demo --out out/demo "$@"
