# Run after Doxygen (cmake -DMAN_DIR=... -P): keeps the section-3 pages that
# belong to the interface. MAN_LINKS makes a one-line ".so" page for every
# member, struct fields included: links named after a field ("count",
# "next", "value"...) would claim generic names in man3, so only the links
# of file members (functions, macros, types, variables: pages that point to
# a header's page) are kept. Pages made from the Markdown documents (named
# after the document, e.g. "guide") are dropped too: they are in the HTML
# reference. Every page kept is named vek..., VEK... or after a header.
file(GLOB _pages ${MAN_DIR}/*.3)
set(_removed 0)
foreach(_page IN LISTS _pages)
  get_filename_component(_name ${_page} NAME)
  set(_drop FALSE)
  if(NOT _name MATCHES "^[vV][eE][kK]")
    set(_drop TRUE)
  else()
    file(SIZE ${_page} _size)
    if(_size LESS 200)
      file(READ ${_page} _text)
      if(_text MATCHES "^\\.so man3/" AND NOT _text MATCHES "^\\.so man3/[A-Za-z0-9_]+\\.h\\.3")
        set(_drop TRUE)
      endif()
    endif()
  endif()
  if(_drop)
    file(REMOVE ${_page})
    math(EXPR _removed "${_removed} + 1")
  endif()
endforeach()
message(STATUS "man pages: ${_removed} pages of fields and documents left out")
