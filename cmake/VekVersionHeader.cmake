# Generates include/vek/vek_version.h (in the build tree) from the project
# version and adds it to the public headers.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/include/vek/vek_version.h.in)
configure_file(${PROJECT_SOURCE_DIR}/include/vek/vek_version.h.in
  ${VEK_GENERATED_INCLUDE_DIR}/vek/vek_version.h @ONLY)
list(APPEND VEK_PUBLIC_HEADERS ${VEK_GENERATED_INCLUDE_DIR}/vek/vek_version.h)
