# The Markdown pages of docs/ (guide, stream format, tool, Python) are
# installed as they are; their links are GitHub-style heading anchors.
file(GLOB VEK_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${VEK_DOC_PAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Development)

# The reference: HTML and section-3 man pages of the public headers, made by
# Doxygen (the `doc` target, part of the default build) whenever Doxygen is
# found, and installed by a default `cmake --install` (component
# Development). -DVEK_BUILD_DOCS=OFF leaves it out; without Doxygen the
# build goes on without it. With VEK_WERROR a Doxygen warning (a public name
# without documentation, say) fails the build.
option(VEK_BUILD_DOCS "Build and install the reference (HTML and man pages) when Doxygen is found" ON)
if(NOT VEK_BUILD_DOCS)
  message(STATUS "reference (HTML and man pages) not built: VEK_BUILD_DOCS is OFF")
  return()
endif()
find_package(Doxygen QUIET)
if(NOT TARGET Doxygen::doxygen)
  message(STATUS "reference (HTML and man pages) not built: Doxygen not found (apt-get install doxygen)")
  return()
endif()
message(STATUS "reference (HTML and man pages) built with Doxygen ${DOXYGEN_VERSION}")

set(VEK_DOC_OUTPUT_DIR ${PROJECT_BINARY_DIR}/doc)
if(VEK_WERROR)
  set(VEK_DOC_WARN_AS_ERROR YES)
else()
  set(VEK_DOC_WARN_AS_ERROR NO)
endif()
# The headers as users see them: the generated ones and the copies beside them.
# The stand-in's test controls are documented with it.
set(VEK_DOC_INPUT_LIST ${VEK_PUBLIC_HEADERS} ${PROJECT_SOURCE_DIR}/platform/vek_saltest.h
  ${PROJECT_SOURCE_DIR}/platform/vek_region.h)
list(JOIN VEK_DOC_INPUT_LIST " \\\n                         " VEK_DOC_INPUT)
set(VEK_DOC_STRIP_PATHS "${VEK_GENERATED_INCLUDE_DIR} ${PROJECT_SOURCE_DIR}/platform ${PROJECT_SOURCE_DIR}")
configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)

add_custom_command(
  OUTPUT ${VEK_DOC_OUTPUT_DIR}/html/index.html
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${VEK_DOC_OUTPUT_DIR}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VEK_DOC_OUTPUT_DIR}
  COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/Doxyfile
  COMMAND ${CMAKE_COMMAND} -DMAN_DIR=${VEK_DOC_OUTPUT_DIR}/man/man3
    -P ${PROJECT_SOURCE_DIR}/cmake/VekDocsManLinks.cmake
  DEPENDS ${VEK_DOC_INPUT_LIST} ${PROJECT_BINARY_DIR}/Doxyfile
    ${PROJECT_SOURCE_DIR}/cmake/VekDocsManLinks.cmake
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  COMMENT "Generating the reference (HTML and man pages) with Doxygen"
  VERBATIM)
add_custom_target(doc ALL DEPENDS ${VEK_DOC_OUTPUT_DIR}/html/index.html)

# A build of chosen targets may leave the reference out; the install then
# says so and goes on.
install(CODE "if(NOT EXISTS \"${VEK_DOC_OUTPUT_DIR}/html/index.html\")
  message(STATUS \"reference not installed: the doc target was not built\")
endif()" COMPONENT Development)
install(DIRECTORY ${VEK_DOC_OUTPUT_DIR}/html/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/html COMPONENT Development OPTIONAL)
install(DIRECTORY ${VEK_DOC_OUTPUT_DIR}/man/man3/
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT Development OPTIONAL)
