# Export tables and import libraries of the Windows DLLs, per architecture.
#
# Each DLL exports exactly what its .def file in
# src/platform/win32/exports/<architecture>/ lists. On 32-bit Windows that is
# every function under its plain and its stdcall-decorated name. A C or C++
# caller compiled for 32-bit Windows asks the linker for the decorated symbol
# (_EnumerateJUX@12 for a JUXHID_CALL function), but the import library the
# linker writes from our .def names only the exported names as they stand, so
# such a caller would not link. dlltool writes one from the decorated names
# instead, with --kill-at mapping each back to the plain export, so a caller
# binds to the same function any GetProcAddress user gets.
#
# 64-bit Windows has a single calling convention and no decorated names: the
# .def lists the plain names only, and the linker's own import library is
# the right one.

set(JUXHID_WINDOWS_EXPORTS_DIR ${PROJECT_SOURCE_DIR}/src/platform/win32/exports/${CMAKE_SYSTEM_PROCESSOR})
if(NOT EXISTS ${JUXHID_WINDOWS_EXPORTS_DIR})
  message(FATAL_ERROR "no Windows export lists for the architecture '${CMAKE_SYSTEM_PROCESSOR}' "
                      "(there are i686 and x86_64); use cmake/toolchain-mingw-i686.cmake or "
                      "cmake/toolchain-mingw-x86_64.cmake")
endif()
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  find_program(JUXHID_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${JUXHID_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
endif()

# Replaces TARGET's import library with one built from its .def DEF_FILE:
# every plain "Name = Name@N" export there becomes an import of Name@N.
function(juxhid_decorated_import_library target def_file)
  file(STRINGS ${def_file} lines REGEX "^[ \t]*[A-Za-z][A-Za-z0-9_]*[ \t]*=")
  get_filename_component(dll_name ${def_file} NAME_WE)
  set(imports "LIBRARY ${dll_name}.dll\nEXPORTS\n")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*([A-Za-z][A-Za-z0-9_]*)[ \t]*=[ \t]*([A-Za-z0-9_]+@[0-9]+)[ \t]*$")
      string(APPEND imports "    ${CMAKE_MATCH_2}\n")
    endif()
  endforeach()
  set(imports_def ${CMAKE_CURRENT_BINARY_DIR}/${target}.imports.def)
  file(WRITE ${imports_def} ${imports})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${JUXHID_DLLTOOL} --kill-at --input-def ${imports_def}
            --dllname ${dll_name}.dll --output-lib $<TARGET_LINKER_FILE:${target}>
    COMMENT "Import library of ${dll_name}.dll with stdcall-decorated names"
    VERBATIM)
endfunction()

# Gives the DLL TARGET the export table of its .def (named after the target)
# and the import library a caller of this architecture links against.
function(juxhid_windows_exports target)
  set(def_file ${JUXHID_WINDOWS_EXPORTS_DIR}/${target}.def)
  target_sources(${target} PRIVATE ${def_file})
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    juxhid_decorated_import_library(${target} ${def_file})
  endif()
endfunction()
