# Generates include/vek/vek_status.h (in the build tree) from the status table, so that the
# public VEK_ST_* constants and the library's lookup table share one source.
set(VEK_STATUS_TABLE ${PROJECT_SOURCE_DIR}/src/foundation/status_table.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${VEK_STATUS_TABLE} ${PROJECT_SOURCE_DIR}/include/vek/vek_status.h.in)

# Every constant carries its documentation: the description written after
# the well-known entries (no semicolons or square brackets: file(STRINGS)
# would split the list there),
# else one naming the block (component) it belongs to.
file(STRINGS ${VEK_STATUS_TABLE} _vek_status_lines
  REGEX "^(VEK_ST_ENTRY\\(|/\\* [^*]+ \\*/$)")
set(VEK_STATUS_DEFINES "")
set(_block "")
set(_count 0)
foreach(_line IN LISTS _vek_status_lines)
  if(_line MATCHES "^/\\* ([^*]+) \\*/$")
    set(_block "${CMAKE_MATCH_1}")
    continue()
  endif()
  if(NOT _line MATCHES "^VEK_ST_ENTRY\\(([0-9]+), *(VEK_ST_[A-Za-z0-9_]+)\\)( /\\*! (.*) \\*/)?$")
    message(FATAL_ERROR "malformed status table line: ${_line}")
  endif()
  set(_code ${CMAKE_MATCH_1})
  set(_name ${CMAKE_MATCH_2})
  math(EXPR _count "${_count} + 1")
  if(CMAKE_MATCH_4)
    set(_doc "${CMAKE_MATCH_4}")
  else()
    set(_doc "Status of another component of the kit (${_block}); named by vek_status_get(), never returned by this library.")
  endif()
  string(LENGTH "${_name}" _len)
  math(EXPR _pad "44 - ${_len}")
  if(_pad LESS 1)
    set(_pad 1)
  endif()
  string(REPEAT " " ${_pad} _spaces)
  string(APPEND VEK_STATUS_DEFINES "#define ${_name}${_spaces}${_code}u /**< ${_doc} */\n")
endforeach()
file(STRINGS ${VEK_STATUS_TABLE} _vek_status_entries REGEX "^VEK_ST_ENTRY\\(")
list(LENGTH _vek_status_entries _entries)
if(NOT _count EQUAL _entries)
  message(FATAL_ERROR "status table: ${_entries} entries but ${_count} parsed (a semicolon or bracket in a description?)")
endif()
configure_file(${PROJECT_SOURCE_DIR}/include/vek/vek_status.h.in
  ${VEK_GENERATED_INCLUDE_DIR}/vek/vek_status.h @ONLY)

# The other public headers are copied beside it so that their sibling
# includes ("vek_status.h") resolve in the build tree as in an installed one.
file(GLOB VEK_PUBLIC_HEADER_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/vek/*.h)
set(VEK_PUBLIC_HEADERS ${VEK_GENERATED_INCLUDE_DIR}/vek/vek_status.h)
foreach(_h IN LISTS VEK_PUBLIC_HEADER_SOURCES)
  get_filename_component(_n ${_h} NAME)
  configure_file(${_h} ${VEK_GENERATED_INCLUDE_DIR}/vek/${_n} COPYONLY)
  list(APPEND VEK_PUBLIC_HEADERS ${VEK_GENERATED_INCLUDE_DIR}/vek/${_n})
endforeach()
