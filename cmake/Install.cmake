# `cmake --install`: the public headers (in include/juxhid/, which the CMake
# package and the .pc files put on the include path, so that consumers write
# #include <juxhid.h>), the libraries this platform built,
# the tool, a CMake package (find_package(juxhid) gives juxhid::juxhid and
# juxhid::sim) and pkg-config files (juxhid.pc, juxhid-sim.pc). The Python
# package installs itself from bindings/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(juxhid_include_dir ${CMAKE_INSTALL_INCLUDEDIR}/juxhid)
install(FILES
  ${PROJECT_SOURCE_DIR}/include/juxhid.h
  ${PROJECT_SOURCE_DIR}/include/juxhid_status.h
  ${PROJECT_SOURCE_DIR}/include/juxhid_sim.h
  ${PROJECT_SOURCE_DIR}/include/juxhid_watch.h
  DESTINATION ${juxhid_include_dir})

set(juxhid_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/juxhid)
set(juxhid_pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
# The .pc files name the prefix relative to themselves, so that an install
# with `cmake --install --prefix DIR` or a moved tree still resolves.
file(RELATIVE_PATH JUXHID_PC_PREFIX_FROM_PCFILEDIR /root/${juxhid_pkgconfig_dir} /root)
string(REGEX REPLACE "/$" "" JUXHID_PC_PREFIX_FROM_PCFILEDIR "${JUXHID_PC_PREFIX_FROM_PCFILEDIR}")

# juxhid_install_library(TARGET EXPORT_NAME PC_NAME)
macro(juxhid_install_library target export_name pc_name)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name})
    target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${juxhid_include_dir}>)
    install(TARGETS ${target} EXPORT juxhidTargets
      RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
      LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
    list(APPEND juxhid_installed_components ${export_name})
    # juxhid.pc.in is written for one library; each gets its own file.
    set(JUXHID_PC_NAME ${pc_name})
    get_target_property(JUXHID_PC_LIBRARY ${target} OUTPUT_NAME)
    if(NOT JUXHID_PC_LIBRARY)
      set(JUXHID_PC_LIBRARY ${target})
    endif()
    if("${export_name}" STREQUAL "sim")
      set(JUXHID_PC_DESCRIPTION "JUXHID over the simulated HID bus, for tests without hardware")
    else()
      set(JUXHID_PC_DESCRIPTION "JUXHID: talk to one vendor's USB HID devices")
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/cmake/juxhid.pc.in ${PROJECT_BINARY_DIR}/${pc_name}.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/${pc_name}.pc DESTINATION ${juxhid_pkgconfig_dir})
  endif()
endmacro()

set(juxhid_installed_components "")
juxhid_install_library(juxhid juxhid juxhid)
juxhid_install_library(juxhid_sim sim juxhid-sim)
juxhid_install_library(juxhid_watch watch juxhid-watch)

foreach(tool juxhid_tool juxhid_sim_tool)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} OPTIONAL)
  endif()
endforeach()

if(juxhid_installed_components)
  install(EXPORT juxhidTargets NAMESPACE juxhid:: DESTINATION ${juxhid_cmake_dir})
endif()
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/juxhidConfig.cmake.in
  ${PROJECT_BINARY_DIR}/juxhidConfig.cmake INSTALL_DESTINATION ${juxhid_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/juxhidConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/juxhidConfig.cmake ${PROJECT_BINARY_DIR}/juxhidConfigVersion.cmake
  DESTINATION ${juxhid_cmake_dir})
