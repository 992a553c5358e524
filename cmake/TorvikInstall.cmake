# Install rules of the shared libraries: the library with its SONAME links, its public headers, a CMake
# config package and a pkg-config file.
#
# torvik_install_library(<target>
#   PACKAGE_COMPONENT <runtime package component> DESCRIPTION <one line>
#   HEADERS <public include dir> PKGCONFIG <name of the .pc file>
#   [PC_CFLAGS <extra cflags>] [DEPENDENCIES <find_dependency arguments>...])
#
# Another project then writes find_package(<target>) and links <target>::<target>, or asks
# `pkg-config --cflags --libs <name>`.
include(CMakePackageConfigHelpers)

function(torvik_install_library target)
  cmake_parse_arguments(ARG "" "PACKAGE_COMPONENT;DESCRIPTION;HEADERS;PKGCONFIG;PC_CFLAGS" "DEPENDENCIES" ${ARGN})
  set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${ARG_HEADERS}> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

  install(TARGETS ${target} EXPORT ${target}Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${ARG_PACKAGE_COMPONENT} NAMELINK_COMPONENT dev
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY ${ARG_HEADERS}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

  set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/${target})
  install(EXPORT ${target}Targets NAMESPACE ${target}:: DESTINATION ${package_dir} COMPONENT dev)
  set(TORVIK_PACKAGE ${target})
  set(TORVIK_PACKAGE_DEPENDENCIES "")
  foreach(dependency IN LISTS ARG_DEPENDENCIES)
    string(APPEND TORVIK_PACKAGE_DEPENDENCIES "find_dependency(${dependency})\n")
  endforeach()
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/install)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/install/PackageConfig.cmake.in
    ${generated}/${target}Config.cmake INSTALL_DESTINATION ${package_dir})
  write_basic_package_version_file(${generated}/${target}ConfigVersion.cmake COMPATIBILITY SameMajorVersion)
  install(FILES ${generated}/${target}Config.cmake ${generated}/${target}ConfigVersion.cmake
    DESTINATION ${package_dir} COMPONENT dev)

  set(TORVIK_PC_DESCRIPTION ${ARG_DESCRIPTION})
  set(TORVIK_PC_CFLAGS "${ARG_PC_CFLAGS}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/install/library.pc.in ${generated}/${ARG_PKGCONFIG}.pc @ONLY)
  install(FILES ${generated}/${ARG_PKGCONFIG}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endfunction()
