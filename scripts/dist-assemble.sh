#!/usr/bin/env bash
# Assembles the installation tree from a built MinGW release tree: the files and the
# registry files that docs/install.md lists, in the folders it names. The binaries are
# copied unchanged (the DLL that ships is the DLL the Wine tests load).
# Usage: scripts/dist-assemble.sh <source dir> <mingw build dir> <output dir>
set -euo pipefail
src=${1:?usage: dist-assemble.sh <source dir> <mingw build dir> <output dir>}
build=${2:?missing mingw build dir}
out=${3:?missing output dir}

# Where the files go on the user's machine. docs/install.md says the same, and
# tests/checks/dist-layout.sh holds the two together.
install_dir='C:\Program Files\Quorvex\Vessa'
config_dir='C:\ProgramData\Quorvex\Vessa'
driver_key='HKEY_LOCAL_MACHINE\SOFTWARE\Quorvex\VessaDriver'

need() {
    [ -f "$1" ] || {
        echo "dist: $1 is missing (build the mingw-release targets first)" >&2
        exit 1
    }
}
dll=$build/modules/vessad3d9u.dll
config_library=$build/modules/ConfigurationController.dll
watchdog=$build/bin/v_WatchDog.exe
for file in "$dll" "$config_library" "$watchdog" "$src/config/vessa.xml" \
    "$src/config/userSettings.xml" "$src/config/vessaloader.ini" "$src/docs/install.md"; do
    need "$file"
done

# A fresh tree: nothing left over from an earlier layout may ship.
rm -rf "$out"
mkdir -p "$out/program" "$out/config" "$out/watchdog" "$out/user"
cp "$dll" "$config_library" "$out/program/"
cp "$src/config/vessa.xml" "$out/config/"
cp "$watchdog" "$out/watchdog/"
cp "$src/config/vessaloader.ini" "$src/config/userSettings.xml" "$out/user/"
cp "$src/docs/install.md" "$out/"

# .reg files: backslashes doubled inside values, CRLF line ends (regedit reads both, but
# Notepad on Windows 7 shows LF-only files as one line).
reg_text() { sed 's/\\/\\\\/g' <<<"$1"; }
crlf() { sed 's/$/\r/'; }
crlf >"$out/vessa.reg" <<REG
Windows Registry Editor Version 5.00

[$driver_key]
"InstallDirectory"="$(reg_text "$install_dir")"
"ConfigFileDirectory"="$(reg_text "$config_dir")"
REG
crlf >"$out/vessa-uninstall.reg" <<REG
Windows Registry Editor Version 5.00

[-$driver_key]
REG
echo "dist: installation tree in $out"
