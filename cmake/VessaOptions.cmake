# Build-wide options shared by every target.
option(VESSA_BUILD_TESTS "Build the GoogleTest suites" ON)
option(VESSA_BUILD_BENCH "Build the Google Benchmark suites" OFF)
set(VESSA_SANITIZE "" CACHE STRING "Sanitizers for the native build: address,undefined | thread | empty")
option(VESSA_BUILD_FUZZ "Build the libFuzzer targets (clang only, native only)" OFF)

# Warnings are errors on both builds, so a warning never reaches main.
add_compile_options(-Wall -Wextra -Werror -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # Records that mirror a binary layout keep named reserved fields nobody reads.
  add_compile_options(-Wno-unused-private-field)
endif()
# Every module exports exactly what it marks; internal calls bind inside the module,
# as they do in a Windows DLL.
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

if(VESSA_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=${VESSA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VESSA_SANITIZE})
endif()

# Windows entry points are resolved at run time and called through the caller's own
# declaration of their type (ntdll's RtlInitUnicodeString, the kernel thunks, ...): clang's
# function-type check sees a different C++ type there, the machine code does not. The
# libraries that make such calls turn that one check off (VESSA_DYNAMIC_CALL_OPTIONS).
set(VESSA_DYNAMIC_CALL_OPTIONS "")
if(VESSA_SANITIZE MATCHES "undefined" AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(VESSA_DYNAMIC_CALL_OPTIONS -fno-sanitize=function)
endif()

if(VESSA_BUILD_FUZZ)
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VESSA_BUILD_FUZZ needs the native build with clang (preset native-fuzz)")
  endif()
  # Every library carries coverage counters, so the fuzzer also learns from the code its
  # input reaches inside the modules; only the fuzz executables link the fuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(WIN32)
  # The DLL and the test executables carry libgcc, libstdc++ and winpthread inside,
  # so nothing needs a MinGW runtime DLL beside it (a missing one fails silently under Wine).
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
else()
  # Shared objects resolve their own symbols first, as a DLL does.
  add_link_options(-Wl,-Bsymbolic)
  # With clang the sanitizer runtimes live in the executable alone, and the modules reach
  # them through its exported symbols, so a module may not insist on resolving everything.
  if(NOT (VESSA_SANITIZE AND CMAKE_CXX_COMPILER_ID MATCHES "Clang"))
    add_link_options(-Wl,--no-undefined)
  endif()
endif()
