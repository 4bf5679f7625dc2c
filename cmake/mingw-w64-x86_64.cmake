# Cross build of the Windows x64 DLL and its tests with Debian's MinGW-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR           ${TOOLCHAIN_PREFIX}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB       ${TOOLCHAIN_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "")

# Cross-built dependencies (libxml2, zydis, GoogleTest) live in a cache outside the
# repository, filled by scripts/bootstrap.sh. VESSA_DEPS_PREFIX names it directly;
# otherwise it is <VESSA_DEPS_CACHE>/mingw, by default /var/cache/vessa-deps/mingw.
if(NOT VESSA_DEPS_PREFIX)
  if(DEFINED ENV{VESSA_DEPS_PREFIX} AND NOT "$ENV{VESSA_DEPS_PREFIX}" STREQUAL "")
    set(VESSA_DEPS_PREFIX "$ENV{VESSA_DEPS_PREFIX}")
  elseif(DEFINED ENV{VESSA_DEPS_CACHE} AND NOT "$ENV{VESSA_DEPS_CACHE}" STREQUAL "")
    set(VESSA_DEPS_PREFIX "$ENV{VESSA_DEPS_CACHE}/mingw")
  else()
    set(VESSA_DEPS_PREFIX /var/cache/vessa-deps/mingw)
  endif()
endif()
set(VESSA_DEPS_PREFIX "${VESSA_DEPS_PREFIX}" CACHE PATH "Prefix of the cross-built dependencies")

# With PACKAGE ONLY, find_package() looks only below these roots, so the cache prefix is a
# root of its own (a plain CMAKE_PREFIX_PATH entry would be re-rooted under the sysroot).
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX} ${VESSA_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine; Debian's `wine` wrapper picks wine64 when wine32 is absent.
find_program(WINE_EXECUTABLE NAMES wine wine64)
if(WINE_EXECUTABLE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
endif()
