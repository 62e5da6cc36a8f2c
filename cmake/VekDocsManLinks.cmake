# Run after Doxygen (cmake -DMAN_DIR=... -P): MAN_LINKS makes a one-line
# ".so" page for every member, struct fields included. Links named after a
# struct field ("count", "next", "value"...) would claim generic names in
# man3, so only the links of file members (functions, macros, types,
# variables: pages that point to a header's page) are kept.
file(GLOB _pages ${MAN_DIR}/*.3)
set(_removed 0)
foreach(_page IN LISTS _pages)
  file(SIZE ${_page} _size)
  if(_size GREATER 200)
    continue()
  endif()
  file(READ ${_page} _text)
  if(_text MATCHES "^\\.so man3/" AND NOT _text MATCHES "^\\.so man3/[A-Za-z0-9_]+\\.h\\.3")
    file(REMOVE ${_page})
    math(EXPR _removed "${_removed} + 1")
  endif()
endforeach()
message(STATUS "man pages: ${_removed} links to struct fields removed")
