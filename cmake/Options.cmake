# juxhid_opt_in_part(VARIABLE DOC)
# Declares an ON/OFF option that is OFF unless asked for: the parts that serve
# work on JUXHID (tests, benchmarks), which a build meant to be installed does
# not need. scripts/test.sh and the CI scripts turn them on.
function(juxhid_opt_in_part variable doc)
  option(${variable} "${doc}" OFF)
  if(NOT ${variable} AND CMAKE_SOURCE_DIR STREQUAL PROJECT_SOURCE_DIR)
    message(STATUS "${variable} is OFF: set it ON to build it (scripts/test.sh does)")
  endif()
endfunction()

# juxhid_optional_part(VARIABLE DOC PACKAGE)
# Declares an ON/OFF option whose default follows what is installed: ON when
# this is the top-level project and PACKAGE can be found, OFF otherwise (as a
# subproject JUXHID builds only its libraries). A value set on the command
# line always wins; a part set ON whose package is missing then fails where
# the package is looked for, with CMake's own message.
function(juxhid_optional_part variable doc package)
  if(NOT DEFINED ${variable})
    set(default OFF)
    if(CMAKE_SOURCE_DIR STREQUAL PROJECT_SOURCE_DIR)
      juxhid_package_present(${package} default)
      if(NOT default)
        message(STATUS "${variable} is OFF: ${package} was not found (set it ON to require it)")
      endif()
    endif()
    option(${variable} "${doc}" ${default})
  endif()
endfunction()

# Whether PACKAGE is at hand for this build. A cross build takes CLI11's
# headers from the build machine.
function(juxhid_package_present package out)
  if(package STREQUAL "CLI11")
    juxhid_find_cli11()
    set(found FALSE)
    if(JUXHID_CLI11_INCLUDE_DIR)
      set(found TRUE)
    endif()
  else()
    find_package(${package} QUIET)
    set(found ${${package}_FOUND})
  endif()
  if(found)
    set(${out} ON PARENT_SCOPE)
  else()
    set(${out} OFF PARENT_SCOPE)
  endif()
endfunction()

# CLI11 is header-only: its folder is all a build needs. The build machine's
# copy serves a cross build too, copied on its own into the build tree so
# that no other host header comes along.
function(juxhid_find_cli11)
  if(JUXHID_CLI11_INCLUDE_DIR)
    return()
  endif()
  find_path(JUXHID_CLI11_HOST_DIR CLI/CLI.hpp PATHS /usr/include /usr/local/include
    NO_CMAKE_FIND_ROOT_PATH DOC "The folder holding CLI/CLI.hpp")
  if(NOT EXISTS "${JUXHID_CLI11_HOST_DIR}/CLI/CLI.hpp")
    return()
  endif()
  if(CMAKE_CROSSCOMPILING)
    file(COPY ${JUXHID_CLI11_HOST_DIR}/CLI DESTINATION ${PROJECT_BINARY_DIR}/cli11)
    set(JUXHID_CLI11_INCLUDE_DIR ${PROJECT_BINARY_DIR}/cli11 CACHE INTERNAL "")
  else()
    set(JUXHID_CLI11_INCLUDE_DIR ${JUXHID_CLI11_HOST_DIR} CACHE INTERNAL "")
  endif()
endfunction()
