#!/usr/bin/env bash
# Checks an installation tree (make dist) against the install.md it carries:
#   - the tree holds exactly the files the table between the "dist-files" markers lists;
#   - vessa.reg sets InstallDirectory and ConfigFileDirectory to the folders the table sends
#     the library and the application database to, and vessa-uninstall.reg deletes that key;
#   - the table sends v_WatchDog.exe to the folder the library starts it from;
#   - with a build dir, the shipped binaries are the built ones, unchanged.
# Usage: dist-layout.sh <tree> <CrashReportLayout.h> [<mingw build dir>]
set -euo pipefail
tree=${1:?usage: dist-layout.sh <tree> <CrashReportLayout.h> [<mingw build dir>]}
layout_header=${2:?missing CrashReportLayout.h}
build=${3:-}
doc=$tree/install.md
key='HKEY_LOCAL_MACHINE\SOFTWARE\Quorvex\VessaDriver'

fail=0
problem() {
    echo "dist: $*" >&2
    fail=1
}
[ -f "$doc" ] || {
    echo "dist: $doc is missing" >&2
    exit 1
}

# "<file>|<destination>" per table row, backticks and padding removed.
rows=$(awk -F'|' '
    /<!-- dist-files: begin -->/ {inside=1; next}
    /<!-- dist-files: end -->/ {inside=0}
    inside && $2 ~ /`/ {
        file=$2; dest=$3
        gsub(/[` ]/, "", file); gsub(/`/, "", dest); gsub(/^ +| +$/, "", dest)
        print file "|" dest
    }' "$doc")
[ -n "$rows" ] || problem "install.md lists no files between the dist-files markers"

listed=$(cut -d'|' -f1 <<<"$rows" | sort)
present=$(cd "$tree" && find . -type f -printf '%P\n' | sort)
missing=$(comm -23 <(echo "$listed") <(echo "$present"))
extra=$(comm -13 <(echo "$listed") <(echo "$present"))
[ -z "$missing" ] || problem "listed in install.md but not in the tree:" $missing
[ -z "$extra" ] || problem "in the tree but not listed in install.md:" $extra

destination() { awk -F'|' -v f="$1" '$1 == f {print $2}' <<<"$rows"; }

# The value of "name" in a .reg file, backslash escapes undone, CR removed.
reg_value() {
    sed -n "s/^\"$2\"=\"\\(.*\\)\"\r\?$/\\1/p" "$1" | sed 's/\\\\/\\/g'
}
reg=$tree/vessa.reg
if [ -f "$reg" ]; then
    head -n1 "$reg" | grep -q '^Windows Registry Editor Version 5.00' ||
        problem "vessa.reg lacks the regedit header"
    grep -qxF "[$key]"$'\r' "$reg" || problem "vessa.reg does not write $key"
    for pair in "InstallDirectory program/vessad3d9u.dll" "ConfigFileDirectory config/vessa.xml"; do
        set -- $pair
        value=$(reg_value "$reg" "$1")
        expected=$(destination "$2")
        [ -n "$value" ] && [ "$value" = "$expected" ] ||
            problem "vessa.reg sets $1 to '$value', install.md sends $2 to '$expected'"
    done
fi
uninstall=$tree/vessa-uninstall.reg
if [ -f "$uninstall" ]; then
    grep -qxF "[-$key]"$'\r' "$uninstall" || problem "vessa-uninstall.reg does not delete $key"
fi

# The library starts the watchdog from one fixed path.
watchdog_path=$(sed -n 's/.*kWatchdogPath\[\] = "\(.*\)";.*/\1/p' "$layout_header" | tr / '\\')
watchdog_dir=${watchdog_path%\\*}
[ -n "$watchdog_dir" ] || problem "no watchdog path in $layout_header"
[ "$(destination watchdog/v_WatchDog.exe)" = "$watchdog_dir" ] ||
    problem "install.md sends v_WatchDog.exe to '$(destination watchdog/v_WatchDog.exe)', the library starts it from '$watchdog_dir'"

if [ -n "$build" ]; then
    for pair in "program/vessad3d9u.dll modules/vessad3d9u.dll" \
        "program/ConfigurationController.dll modules/ConfigurationController.dll" \
        "watchdog/v_WatchDog.exe bin/v_WatchDog.exe"; do
        set -- $pair
        [ ! -f "$tree/$1" ] || cmp -s "$tree/$1" "$build/$2" || problem "$1 is not the built $2"
    done
fi

[ "$fail" -eq 0 ] || exit 1
echo "dist: the tree holds exactly what install.md lists ($(wc -l <<<"$listed") files)"
