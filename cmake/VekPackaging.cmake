# Debian packages with CPack's DEB generator, one package per install
# component:
#   Runtime              libvekcommon1      (libs)
#   Development          libvekcommon-dev   (libdevel; with the reference,
#                                            HTML and man3, see VekDocs.cmake)
#   PlatformRuntime      libveksalif1       (libs, stand-in only)
#   PlatformDevelopment  libveksalif-dev    (libdevel, stand-in only)
#   Tool                 vekutil            (utils, when the tool is built)
# scripts/package.sh configures with CMAKE_INSTALL_PREFIX=/usr and a
# multiarch CMAKE_INSTALL_LIBDIR, then runs cpack. Each package carries its
# copyright file and the Debian changelog, installed only by component
# installs (so a plain `cmake --install` leaves them out).
set(VEK_DEB_RELEASE 1)
set(VEK_DEB_VERSION ${PROJECT_VERSION}-${VEK_DEB_RELEASE})

set(VEK_DEB_COMPONENTS Runtime Development)
if(VEK_PLATFORM STREQUAL "standin")
  list(APPEND VEK_DEB_COMPONENTS PlatformRuntime PlatformDevelopment)
endif()
get_cmake_property(_vek_installed_components COMPONENTS)
if("Tool" IN_LIST _vek_installed_components)
  list(APPEND VEK_DEB_COMPONENTS Tool)
endif()

set(VEK_DEB_Runtime_NAME libvekcommon1)
set(VEK_DEB_Development_NAME libvekcommon-dev)
set(VEK_DEB_PlatformRuntime_NAME libveksalif1)
set(VEK_DEB_PlatformDevelopment_NAME libveksalif-dev)
set(VEK_DEB_Tool_NAME vekutil)

# changelog.Debian.gz, compressed as Debian does (gzip -9n).
set(_vek_changelog_gz ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
execute_process(
  COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/cmake/debian/changelog
  OUTPUT_FILE ${_vek_changelog_gz}
  RESULT_VARIABLE _vek_gzip_rc)
if(NOT _vek_gzip_rc EQUAL 0)
  message(WARNING "gzip failed: the Debian packages will lack their changelog")
endif()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
foreach(_c IN LISTS VEK_DEB_COMPONENTS)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${_vek_changelog_gz}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VEK_DEB_${_c}_NAME}
    COMPONENT ${_c} EXCLUDE_FROM_ALL)
endforeach()

# Target architecture in Debian's words (armhf for the cross build).
execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
  OUTPUT_VARIABLE _vek_triplet OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND dpkg-architecture -t${_vek_triplet} -qDEB_HOST_ARCH
  OUTPUT_VARIABLE VEK_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT VEK_DEB_ARCH)
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE VEK_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vekcommon)
set(CPACK_PACKAGE_VENDOR "vekcommon authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Seed c8552e3d maintainers <maintainers@users.noreply.c-seed-c8552e3d.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${VEK_DEB_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VEK_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VEK_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_SOURCE vekcommon)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The shared-library packages activate dpkg's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_PLATFORMRUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
# dpkg-shlibdeps reads the target's libraries; a cross build states its
# run-time dependencies itself (VEK_DEB_CROSS_DEPENDS_<component>, see
# scripts/package.sh).
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  foreach(_c Runtime PlatformRuntime Tool)
    set(VEK_DEB_CROSS_DEPENDS_${_c} "" CACHE STRING "Run-time Depends of the cross-built ${_c} package (libc6 ...)")
  endforeach()
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The project's own libraries are found in the build tree (packages of
  # their own, stated below), an external libVekSalIf where it was found.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
  if(VEK_PLATFORM STREQUAL "standin")
    list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/platform)
  else()
    list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${VEK_SALIF_LIBDIR})
  endif()
endif()

set(_vek_desc_tail
"libvekcommon is the common runtime library of the VEK network-processor
SDK: identifier bitmaps and a resource registry under robust mutexes,
containers, a typed key/value map with a binary encoding, text parsers,
status names and device helpers, behind a flat C interface.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libvekcommon1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "common runtime library of the VEK SDK\n${_vek_desc_tail}\n.\nThis package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libvekcommon-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "common runtime library of the VEK SDK - development files\n${_vek_desc_tail}\n.\nThis package holds the headers, the pkg-config file and the CMake\npackage, and the documentation: the guide, the reference as HTML and\nas section-3 manual pages (man vek_map_decode), and the examples.")

set(CPACK_DEBIAN_PLATFORMRUNTIME_PACKAGE_NAME libveksalif1)
set(CPACK_DEBIAN_PLATFORMRUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_PLATFORMRUNTIME_DESCRIPTION "stand-in platform library of the VEK SDK\nlibVekSalIf is the platform abstraction library that libvekcommon calls\nfor heap and robust memory, process-shared robust mutexes, string helpers,\nbyte order and the trace level. This is the project's stand-in built on\nthe C library; a deployment may install its real platform library\ninstead.")

set(CPACK_DEBIAN_PLATFORMDEVELOPMENT_PACKAGE_NAME libveksalif-dev)
set(CPACK_DEBIAN_PLATFORMDEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_PLATFORMDEVELOPMENT_DESCRIPTION "stand-in platform library of the VEK SDK - development files\nlibVekSalIf is the platform abstraction library that libvekcommon calls.\n.\nThis package holds the link for development, vek_region.h, the named\nrobust regions that programs share, and vek_saltest.h, the\nstand-in's test controls: fault injection (failing allocations, chosen\nstatuses from releases and mutex calls), live-block counts and a shared\nrobust arena, for tests of programs that use libvekcommon.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME vekutil)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "command-line tool of the VEK SDK common library\n${_vek_desc_tail}\n.\nThis package holds the vekutil command.")

# Dependencies between the packages, at the exact version; run-time
# dependencies on other packages come from dpkg-shlibdeps.
set(_vek_eq "(= ${VEK_DEB_VERSION})")
set(_vek_dev_depends "libvekcommon1 ${_vek_eq}")
if(VEK_PLATFORM STREQUAL "standin")
  string(APPEND _vek_dev_depends ", libveksalif-dev ${_vek_eq}")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libveksalif1 ${_vek_eq}")
  set(CPACK_DEBIAN_PLATFORMDEVELOPMENT_PACKAGE_DEPENDS "libveksalif1 ${_vek_eq}")
endif()
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${_vek_dev_depends}")
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libvekcommon1 ${_vek_eq}")
foreach(_c Runtime PlatformRuntime Tool)
  string(TOUPPER ${_c} _C)
  if(CMAKE_CROSSCOMPILING AND VEK_DEB_CROSS_DEPENDS_${_c})
    if(CPACK_DEBIAN_${_C}_PACKAGE_DEPENDS)
      set(CPACK_DEBIAN_${_C}_PACKAGE_DEPENDS "${VEK_DEB_CROSS_DEPENDS_${_c}}, ${CPACK_DEBIAN_${_C}_PACKAGE_DEPENDS}")
    else()
      set(CPACK_DEBIAN_${_C}_PACKAGE_DEPENDS "${VEK_DEB_CROSS_DEPENDS_${_c}}")
    endif()
  endif()
endforeach()

include(CPack)
