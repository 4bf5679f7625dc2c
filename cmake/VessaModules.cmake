# Libraries keep their Windows module names on both builds ("gdi32.dll", "vessad3d9u.dll"),
# so module look-ups, GetProcAddress and caller-module checks act on real code everywhere.
set(VESSA_MODULE_DIR ${CMAKE_BINARY_DIR}/modules)
file(MAKE_DIRECTORY ${VESSA_MODULE_DIR})

# vessa_add_module(<target> <FileName.dll> SOURCES ...)
function(vessa_add_module target file_name)
  cmake_parse_arguments(ARG "" "" "SOURCES" ${ARGN})
  add_library(${target} SHARED ${ARG_SOURCES})
  get_filename_component(stem ${file_name} NAME_WE)
  get_filename_component(ext ${file_name} EXT)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${stem}
    SUFFIX ${ext}
    LIBRARY_OUTPUT_DIRECTORY ${VESSA_MODULE_DIR}
    RUNTIME_OUTPUT_DIRECTORY ${VESSA_MODULE_DIR})
  if(NOT WIN32)
    # The soname is the Windows file name, so DT_NEEDED and dlopen both use it.
    set_target_properties(${target} PROPERTIES NO_SONAME OFF)
    target_link_options(${target} PRIVATE -Wl,-soname,${file_name})
  endif()
endfunction()
