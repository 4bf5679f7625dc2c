#!/usr/bin/env bash
# Prepares the machine and configures the native release preset, quietly: the configure
# output goes to build/native-release.configure.log and is shown only when it fails.
# Shared by the scripts that build something from that preset (bench.sh, demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
mkdir -p build
cmake --preset native-release >build/native-release.configure.log 2>&1 || {
    cat build/native-release.configure.log >&2
    exit 1
}
