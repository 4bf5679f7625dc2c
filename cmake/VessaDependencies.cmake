# Third-party libraries, all from Debian: natively the installed -dev packages, for MinGW
# the static builds that scripts/bootstrap.sh puts in the dependency cache. Either way the
# same imported targets result, so consumers link the same names on both builds:
#   LibXml2::LibXml2  Zydis::Zydis                     (both builds)
#   PNG::PNG  vessa::capstone  benchmark::benchmark    (native build only)
if(WIN32)
  # libxml2's package config accepts only its exact version, so none is requested; its
  # target carries LIBXML_STATIC, without which every call would expect a DLL import.
  find_package(libxml2 CONFIG QUIET)
  find_package(zydis CONFIG QUIET)
  if(NOT libxml2_FOUND OR NOT zydis_FOUND)
    message(FATAL_ERROR "The cross-built libxml2/zydis were not found in "
      "'${VESSA_DEPS_PREFIX}'. Run `make bootstrap` (or scripts/bootstrap.sh) first.")
  endif()
else()
  find_package(LibXml2 QUIET)
  find_package(zydis CONFIG QUIET)
  find_package(PNG QUIET)
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(VESSA_CAPSTONE QUIET IMPORTED_TARGET GLOBAL capstone)
  endif()
  if(NOT LibXml2_FOUND OR NOT zydis_FOUND OR NOT PNG_FOUND OR NOT VESSA_CAPSTONE_FOUND)
    message(FATAL_ERROR "libxml2, zydis, libpng or capstone development files are missing. "
      "Run `make bootstrap` (or scripts/bootstrap.sh) first.")
  endif()
  add_library(vessa::capstone ALIAS PkgConfig::VESSA_CAPSTONE)
  if(VESSA_BUILD_BENCH)
    find_package(benchmark REQUIRED)
  endif()
endif()
