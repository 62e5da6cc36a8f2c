# Installation, in components:
#   Runtime              libvekcommon.so.1*
#   Development          headers, libvekcommon.so, vekcommon.pc, the CMake package
#   PlatformRuntime      libVekSalIf.so.1* (stand-in only)
#   PlatformDevelopment  libVekSalIf.so, vek_saltest.h, vek_region.h (stand-in only)
# Directories come from GNUInstallDirs; a relative CMAKE_INSTALL_LIBDIR such
# as lib/x86_64-linux-gnu keeps the installed tree relocatable.
include(CMakePackageConfigHelpers)

install(FILES ${VEK_PUBLIC_HEADERS}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vek
  COMPONENT Development)

set(VEK_INSTALL_TARGETS vekcommon)
if(VEK_PLATFORM STREQUAL "standin")
  install(TARGETS VekSalIf EXPORT vekcommonTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT PlatformRuntime NAMELINK_COMPONENT PlatformDevelopment
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/platform/vek_saltest.h ${PROJECT_SOURCE_DIR}/platform/vek_region.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT PlatformDevelopment)
endif()
install(TARGETS vekcommon EXPORT vekcommonTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT Runtime NAMELINK_COMPONENT Development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(VEK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vekcommon)
install(EXPORT vekcommonTargets NAMESPACE vekcommon:: DESTINATION ${VEK_CMAKE_DIR}
  COMPONENT Development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/vekcommonConfig.cmake.in
  ${PROJECT_BINARY_DIR}/vekcommonConfig.cmake INSTALL_DESTINATION ${VEK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/vekcommonConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/vekcommonConfig.cmake ${PROJECT_BINARY_DIR}/vekcommonConfigVersion.cmake
  DESTINATION ${VEK_CMAKE_DIR}
  COMPONENT Development)

# pkg-config: the prefix is derived from the .pc file's own place, so the
# installed tree can be moved; includedir and libdir follow GNUInstallDirs.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(VEK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(VEK_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH _vek_pc_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  string(REGEX REPLACE "/$" "" _vek_pc_to_prefix "${_vek_pc_to_prefix}")
  set(VEK_PC_PREFIX "\${pcfiledir}/${_vek_pc_to_prefix}")
  set(VEK_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VEK_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(VEK_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# An external platform library outside the linker's own directories is
# named with its directory.
set(VEK_PC_PLATFORM_LIBS "-lVekSalIf")
if(VEK_PLATFORM STREQUAL "external" AND NOT VEK_SALIF_LIBDIR IN_LIST CMAKE_C_IMPLICIT_LINK_DIRECTORIES)
  set(VEK_PC_PLATFORM_LIBS "-L${VEK_SALIF_LIBDIR} -lVekSalIf")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/vekcommon.pc.in ${PROJECT_BINARY_DIR}/vekcommon.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/vekcommon.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  COMPONENT Development)
