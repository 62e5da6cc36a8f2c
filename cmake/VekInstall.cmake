# Installation: headers, both libraries, pkg-config file and CMake package.
include(CMakePackageConfigHelpers)

install(FILES ${VEK_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vek)

install(TARGETS VekSalIf vekcommon EXPORT vekcommonTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(VEK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vekcommon)
install(EXPORT vekcommonTargets NAMESPACE vekcommon:: DESTINATION ${VEK_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vekcommonConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vekcommonConfig.cmake INSTALL_DESTINATION ${VEK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vekcommonConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vekcommonConfig.cmake ${PROJECT_BINARY_DIR}/vekcommonConfigVersion.cmake
  DESTINATION ${VEK_CMAKE_DIR})

# The prefix is derived from the .pc file's own place, so the installed tree
# can be moved.
file(RELATIVE_PATH _vek_pc_to_prefix
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" _vek_pc_to_prefix "${_vek_pc_to_prefix}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/vekcommon.pc.in ${PROJECT_BINARY_DIR}/vekcommon.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vekcommon.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
