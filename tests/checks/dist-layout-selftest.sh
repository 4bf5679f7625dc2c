#!/usr/bin/env bash
# Assembles the installation tree from a built MinGW tree, checks it, and proves that
# dist-layout.sh rejects each fault it is meant to catch, planted one at a time into a copy.
# Usage: dist-layout-selftest.sh <source dir> <mingw build dir> <scratch dir>
set -euo pipefail
src=${1:?usage: dist-layout-selftest.sh <source dir> <mingw build dir> <scratch dir>}
build=${2:?missing mingw build dir}
scratch=${3:?missing scratch dir}
check="$(dirname "$0")/dist-layout.sh"
header=$src/common/public/CrashReportLayout.h

good=$scratch/good
bash "$src/scripts/dist-assemble.sh" "$src" "$build" "$good" >/dev/null
bash "$check" "$good" "$header" "$build" || {
    echo "the assembled tree is rejected" >&2
    exit 1
}

planted=$scratch/planted
expect_rejected() {
    local what=$1 plant=$2
    rm -rf "$planted"
    cp -r "$good" "$planted"
    (cd "$planted" && eval "$plant")
    if bash "$check" "$planted" "$header" "$build" >/dev/null 2>&1; then
        echo "not caught: $what" >&2
        exit 1
    fi
}
expect_rejected "a listed file missing" 'rm program/ConfigurationController.dll'
expect_rejected "an unlisted file" 'touch program/leftover.dll'
expect_rejected "a listed file that is never built" \
    'sed -i "s#^| \`vessa.reg\`#| \`extra/tool.exe\` | \`C:\\\\x\` | x |\n&#" install.md'
expect_rejected "InstallDirectory elsewhere than the library" \
    'sed -i "s/Program Files/Program Files (x86)/" vessa.reg'
expect_rejected "no ConfigFileDirectory" 'sed -i "/ConfigFileDirectory/d" vessa.reg'
expect_rejected "an uninstall file that deletes nothing" 'sed -i "s/\[-/[/" vessa-uninstall.reg'
expect_rejected "the watchdog sent elsewhere than the library starts it" \
    'sed -i "s#| \`C:\\\\dizizir\` |#| \`C:\\\\watchdog\` |#" install.md'
expect_rejected "a shipped DLL that is not the built one" 'printf x >>program/vessad3d9u.dll'
rm -rf "$scratch"
echo "dist-layout.sh rejects every planted fault"
