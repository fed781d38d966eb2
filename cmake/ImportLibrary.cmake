# Import libraries that a stdcall caller can link against.
#
# A C or C++ caller compiled for 32-bit Windows asks the linker for the
# decorated symbol (_EnumerateJUX@12 for a JUXHID_CALL function). The import
# library the linker writes from our .def names only the exported names as
# they stand, so such a caller would not link. dlltool writes one from the
# decorated names instead, with --kill-at mapping each back to the plain
# export, so a caller binds to the same function any GetProcAddress user gets.

find_program(JUXHID_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${JUXHID_MINGW_TRIPLE}-dlltool dlltool REQUIRED)

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
