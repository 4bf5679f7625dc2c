#!/usr/bin/env bash
# Prepares a Debian 12 machine for both builds:
#   1. installs the Debian packages the builds, tests, benchmarks and fuzzers need;
#   2. cross-builds the MinGW-w64 dependencies (libxml2, zydis, GoogleTest) from Debian's
#      sources into a cache outside the repository, once, keyed by a stamp.
# Idempotent: when everything is in place it only checks and returns within a second.
#
# Environment:
#   VESSA_DEPS_CACHE   cache root (default /var/cache/vessa-deps); MinGW prefix is <root>/mingw
#   VESSA_FORCE_DEPS=1 rebuild the MinGW dependencies even when the stamp matches
set -euo pipefail

log() { printf 'bootstrap: %s\n' "$*" >&2; }
die() {
    log "error: $*"
    exit 1
}

CACHE_ROOT=${VESSA_DEPS_CACHE:-/var/cache/vessa-deps}
PREFIX=$CACHE_ROOT/mingw
STAMP=$PREFIX/.vessa-stamp
LOCK=$CACHE_ROOT/.lock
TOOLCHAIN=$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-w64-x86_64.cmake

# Everything a build, test, benchmark, fuzzer or format run calls.
PACKAGES=(
    make cmake ninja-build g++ pkg-config dpkg-dev git xz-utils
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libxml2-dev libpng-dev libzydis-dev libzycore-dev libcapstone-dev
    g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
    wine wine64
    clang libclang-rt-dev clang-format jq
)

# Bump when the way the cache is built changes, so stale caches are rebuilt.
RECIPE=4

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo -n "$@"
    else
        die "root is needed for: $*"
    fi
}

missing_packages() {
    local p status
    for p in "${PACKAGES[@]}"; do
        status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
        [ "$status" = installed ] || printf '%s\n' "$p"
    done
}

apt_updated=0
apt_update() {
    if [ "$apt_updated" -eq 0 ]; then
        as_root apt-get update -qq
        apt_updated=1
    fi
}

install_packages() {
    local missing
    mapfile -t missing < <(missing_packages)
    [ "${#missing[@]}" -eq 0 ] && return 0
    log "installing: ${missing[*]}"
    apt_update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
    mapfile -t missing < <(missing_packages)
    [ "${#missing[@]}" -eq 0 ] || die "still missing after install: ${missing[*]}"
}

pkg_version() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null; }

# The stamp names everything the cached build depends on: a new compiler, a new source
# version or a new recipe means a rebuild.
stamp_key() {
    printf 'recipe=%s libxml2=%s zydis=%s zycore=%s googletest=%s mingw=%s\n' "$RECIPE" \
        "$(pkg_version libxml2-dev)" "$(pkg_version libzydis-dev)" "$(pkg_version libzycore-dev)" \
        "$(pkg_version googletest)" "$(pkg_version g++-mingw-w64-x86-64-posix)"
}

deps_current() {
    [ "${VESSA_FORCE_DEPS:-0}" != 1 ] && [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$(stamp_key)" ]
}

SRC_LIST=
remove_deb_src() {
    if [ -n "$SRC_LIST" ] && [ -f "$SRC_LIST" ]; then
        as_root rm -f "$SRC_LIST"
        as_root apt-get update -qq || true
    fi
}

# A deb-src twin of the machine's own Debian entries (deb822 or one-line style).
add_deb_src() {
    local base=/etc/apt/sources.list.d/debian.sources
    if [ -f "$base" ]; then
        SRC_LIST=/etc/apt/sources.list.d/vessa-deb-src.sources
        sed 's/^Types: deb$/Types: deb-src/' "$base" | as_root tee "$SRC_LIST" >/dev/null
    elif [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
        SRC_LIST=/etc/apt/sources.list.d/vessa-deb-src.list
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee "$SRC_LIST" >/dev/null
    else
        die "no Debian apt source found to derive a deb-src entry from"
    fi
}

# Fetches Debian's source packages of libxml2 and zydis (with Debian's patches applied)
# into $1. A deb-src entry exists only for the duration of the download.
fetch_sources() {
    local dir=$1
    trap remove_deb_src EXIT
    trap 'exit 130' INT TERM # leave through the EXIT trap, which removes the entry
    add_deb_src
    as_root apt-get update -qq
    apt_updated=1
    # Same upstream versions as the native -dev packages, so both builds agree.
    (cd "$dir" && apt-get source -qq "libxml2=$(pkg_version libxml2-dev)" \
        "zydis=$(pkg_version libzydis-dev)" >/dev/null 2>&1) ||
        (cd "$dir" && apt-get source -qq libxml2 zydis >/dev/null) ||
        die "apt-get source libxml2 zydis failed"
    remove_deb_src
    trap - EXIT INT TERM
}

cmake_cross() {
    local src=$1 build=$2
    shift 2
    cmake -G Ninja -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DVESSA_DEPS_PREFIX="$PREFIX" \
        -Wno-dev "$@" >"$build.log" 2>&1 || {
        tail -40 "$build.log" >&2
        die "configure of $src failed (log: $build.log)"
    }
    cmake --build "$build" --target install >>"$build.log" 2>&1 || {
        tail -40 "$build.log" >&2
        die "build of $src failed (log: $build.log)"
    }
}

# Zydis' library needs only Zycore's headers and CMake helpers; zycore-c's own sources
# cannot be downloaded here, so an interface-only Zycore is made from libzycore-dev.
write_zycore_shim() {
    local shim=$1
    mkdir -p "$shim/include"
    cp -r /usr/include/Zycore "$shim/include/"
    cp /usr/lib/x86_64-linux-gnu/cmake/zycore/zyan-functions.cmake "$shim/"
    cat >"$shim/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.9)
project(Zycore VERSION 1.4.1 LANGUAGES C)
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/zyan-functions.cmake)
add_library(Zycore INTERFACE)
target_include_directories(Zycore INTERFACE
  $<BUILD_INTERFACE:${CMAKE_CURRENT_LIST_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_definitions(Zycore INTERFACE ZYCORE_STATIC_BUILD)
install(TARGETS Zycore EXPORT zycore-targets)
install(EXPORT zycore-targets NAMESPACE Zycore:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zycore)
install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES zycore-config.cmake zyan-functions.cmake DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/zycore)
EOF
    cat >"$shim/zycore-config.cmake" <<'EOF'
include(${CMAKE_CURRENT_LIST_DIR}/zycore-targets.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/zyan-functions.cmake)
EOF
}

build_deps() {
    local work
    work=$(mktemp -d "${TMPDIR:-/tmp}/vessa-deps.XXXXXX")
    log "cross-building MinGW dependencies into $PREFIX (work dir $work)"
    local t0=$SECONDS
    as_root rm -rf "$PREFIX"
    as_root mkdir -p "$PREFIX"
    [ -w "$PREFIX" ] || as_root chown "$(id -u):$(id -g)" "$PREFIX"

    fetch_sources "$work"
    local xml2 zydis
    xml2=$(find "$work" -maxdepth 1 -type d -name 'libxml2-*' | head -1)
    zydis=$(find "$work" -maxdepth 1 -type d -name 'zydis-*' | head -1)
    [ -n "$xml2" ] && [ -n "$zydis" ] || die "source trees not found in $work"

    # libxml2: static, no network/iconv/compression, native Win32 threads (no winpthread DLL).
    # LIBXML_STATIC for its own sources too: otherwise every libxml2 function is marked
    # dllexport and leaks into the export table of each DLL that links it.
    cmake_cross "$xml2" "$work/build-libxml2" -DBUILD_SHARED_LIBS=OFF -DCMAKE_C_FLAGS=-DLIBXML_STATIC \
        -DLIBXML2_WITH_ICONV=OFF -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_ZLIB=OFF \
        -DLIBXML2_WITH_PYTHON=OFF -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_FTP=OFF \
        -DLIBXML2_WITH_ICU=OFF -DLIBXML2_WITH_MODULES=OFF -DLIBXML2_WITH_TESTS=OFF \
        -DLIBXML2_WITH_PROGRAMS=OFF -DHAVE_PTHREAD_H=0
    log "libxml2 done ($((SECONDS - t0)) s)"

    # zydis: static library only, against the header-only Zycore (installed separately,
    # because zydis adds it EXCLUDE_FROM_ALL and so never installs it).
    write_zycore_shim "$work/zycore-shim"
    cmake_cross "$work/zycore-shim" "$work/build-zycore"
    cmake_cross "$zydis" "$work/build-zydis" -DZYAN_ZYCORE_PATH="$work/zycore-shim" \
        -DZYDIS_BUILD_SHARED_LIB=OFF -DZYDIS_BUILD_EXAMPLES=OFF -DZYDIS_BUILD_TOOLS=OFF \
        -DZYDIS_BUILD_MAN=OFF -DZYDIS_BUILD_DOXYGEN=OFF
    log "zydis done ($((SECONDS - t0)) s)"

    # GoogleTest/GoogleMock from Debian's sources, so each build tree links a prebuilt copy.
    cmake_cross /usr/src/googletest "$work/build-googletest" -DBUILD_SHARED_LIBS=OFF \
        -Dgtest_force_shared_crt=ON -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON
    log "googletest done ($((SECONDS - t0)) s)"

    stamp_key >"$STAMP"
    rm -rf "$work"
    log "MinGW dependencies ready in $((SECONDS - t0)) s"
}

main() {
    install_packages
    if deps_current; then
        return 0
    fi
    as_root mkdir -p "$CACHE_ROOT"
    [ -w "$CACHE_ROOT" ] || as_root chown "$(id -u):$(id -g)" "$CACHE_ROOT"
    # Several checkouts on one machine may bootstrap at once: one builds, the others wait.
    exec 9>"$LOCK"
    flock 9
    if ! deps_current; then
        build_deps
    fi
    flock -u 9
}

main "$@"
