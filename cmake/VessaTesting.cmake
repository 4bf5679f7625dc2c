# Test executables: GoogleTest, discovered per test so every test runs in its own process
# (process-wide singletons live until process exit, as in the product).
if(NOT VESSA_BUILD_TESTS)
  return()
endif()
enable_testing()
include(GoogleTest)

if(WIN32)
  # GoogleTest is built from Debian's googletest sources with the cross compiler: once into
  # the dependency cache by scripts/bootstrap.sh, else here in the build tree.
  find_package(GTest CONFIG QUIET)
  if(NOT GTest_FOUND)
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(VESSA_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
    add_subdirectory(${VESSA_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# GoogleTest's and GoogleMock's headers are most of a test file's compile time, so every
# suite reuses one precompiled copy of them. Its owner is an executable, so the header is
# compiled with exactly the suites' flags (-fPIE included); GCC quietly falls back to the
# plain headers should a suite's flags ever differ.
option(VESSA_TEST_PCH "Precompile the GoogleTest/GoogleMock headers once for all suites" ON)
if(VESSA_TEST_PCH)
  file(WRITE ${CMAKE_BINARY_DIR}/vessa_test_pch.cpp "int main() { return 0; }\n")
  add_executable(vessa_test_pch EXCLUDE_FROM_ALL ${CMAKE_BINARY_DIR}/vessa_test_pch.cpp)
  target_link_libraries(vessa_test_pch PRIVATE GTest::gmock GTest::gtest)
  target_precompile_headers(vessa_test_pch PRIVATE <gmock/gmock.h> <gtest/gtest.h>)
endif()

# vessa_add_test(<target> SOURCES ... [LIBS ...] [SIM_ONLY] [SERIAL_ON_WINE] [CONCURRENCY])
# SIM_ONLY suites need the simulated machine and are built natively only.
# SERIAL_ON_WINE suites share machine-wide state under Wine (the prefix's c:\vessa.log)
# and must not run beside other tests there.
# CONCURRENCY suites exercise several threads at once: their tests carry the ctest label
# "concurrency", and the target `concurrency_tests` builds them all, so that the native-tsan
# build compiles and runs only these (scripts/test.sh).
function(vessa_add_test target)
  cmake_parse_arguments(ARG "SIM_ONLY;SERIAL_ON_WINE;CONCURRENCY" "" "SOURCES;LIBS" ${ARGN})
  if(ARG_SIM_ONLY AND WIN32)
    return()
  endif()
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE GTest::gmock GTest::gtest_main ${ARG_LIBS})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(VESSA_TEST_PCH)
    target_precompile_headers(${target} REUSE_FROM vessa_test_pch)
  endif()
  if(NOT WIN32)
    set_target_properties(${target} PROPERTIES BUILD_RPATH ${VESSA_MODULE_DIR})
  endif()
  set(properties ENVIRONMENT "VESSA_MODULE_DIR=${VESSA_MODULE_DIR}")
  if(WIN32 AND ARG_SERIAL_ON_WINE)
    list(APPEND properties RUN_SERIAL TRUE)
  endif()
  if(ARG_CONCURRENCY)
    list(APPEND properties LABELS concurrency)
    if(NOT TARGET concurrency_tests)
      add_custom_target(concurrency_tests)
    endif()
    add_dependencies(concurrency_tests ${target})
  endif()
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST
    PROPERTIES ${properties})
endfunction()

# vessa_use_interop_install(<target>...): suites that install the product and the simulated
# interop library into the simulated machine. They need the built modules and
# vessaInterop.dll (whose folder they get as VESSA_TEST_INTEROP_DIR), and the product's
# headers only (property list, staging and worker states): the code is the DLL's. Targets
# that were not made (a build without the simulated machine) are skipped.
function(vessa_use_interop_install)
  foreach(suite IN LISTS ARGN)
    if(TARGET ${suite})
      add_dependencies(${suite} vessad3d9u vessaInterop sim_drivers ConfigurationController)
      target_compile_definitions(${suite} PRIVATE VESSA_TEST_INTEROP_DIR="${VESSA_INTEROP_DIR}")
      target_include_directories(${suite} PRIVATE ${PROJECT_SOURCE_DIR}/src
                                                  ${PROJECT_SOURCE_DIR}/ddicommon/public
                                                  ${PROJECT_SOURCE_DIR}/common/public)
    endif()
  endforeach()
endfunction()
