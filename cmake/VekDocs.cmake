# The Markdown pages of docs/ (guide, stream format, tool, Python) are
# installed as they are; their links are GitHub-style heading anchors.
file(GLOB VEK_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${VEK_DOC_PAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Development)

# The `doc` target: HTML and section-3 man pages of the public headers, made
# by Doxygen. Off by default:
#   cmake -DVEK_BUILD_DOCS=ON ... && cmake --build B --target doc
# An undocumented public name fails the build (warnings are errors).
option(VEK_BUILD_DOCS "Build the reference (HTML and man pages) with Doxygen" OFF)
if(NOT VEK_BUILD_DOCS)
  return()
endif()

find_package(Doxygen REQUIRED)

set(VEK_DOC_OUTPUT_DIR ${PROJECT_BINARY_DIR}/doc)
set(VEK_DOC_WARN_AS_ERROR YES CACHE STRING "Doxygen WARN_AS_ERROR (YES, NO or FAIL_ON_WARNINGS)")
# The headers as users see them: the generated ones and the copies beside them.
# The stand-in's test controls are documented with it.
set(VEK_DOC_INPUT_LIST ${VEK_PUBLIC_HEADERS} ${PROJECT_SOURCE_DIR}/platform/vek_saltest.h)
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
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  COMMENT "Generating the reference (HTML and man pages) with Doxygen"
  VERBATIM)
add_custom_target(doc ALL DEPENDS ${VEK_DOC_OUTPUT_DIR}/html/index.html)

install(DIRECTORY ${VEK_DOC_OUTPUT_DIR}/html/
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/html COMPONENT Development)
install(DIRECTORY ${VEK_DOC_OUTPUT_DIR}/man/man3/
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT Development)
