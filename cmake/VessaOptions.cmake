# Build-wide options shared by every target.
option(VESSA_BUILD_TESTS "Build the GoogleTest suites" ON)
option(VESSA_BUILD_BENCH "Build the Google Benchmark suites" OFF)
set(VESSA_SANITIZE "" CACHE STRING "Sanitizers for the native build: address,undefined | thread | empty")

# Warnings are errors on both builds, so a warning never reaches main.
add_compile_options(-Wall -Wextra -Werror -Wno-unused-parameter)
# Every module exports exactly what it marks; internal calls bind inside the module,
# as they do in a Windows DLL.
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

if(VESSA_SANITIZE AND NOT WIN32)
  add_compile_options(-fsanitize=${VESSA_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VESSA_SANITIZE})
endif()

if(WIN32)
  # The DLL and the test executables carry libgcc, libstdc++ and winpthread inside,
  # so nothing needs a MinGW runtime DLL beside it (a missing one fails silently under Wine).
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0601)
else()
  # Shared objects resolve their own symbols first, as a DLL does.
  add_link_options(-Wl,-Bsymbolic -Wl,--no-undefined)
endif()
