# Run after Doxygen (cmake -DMAN_DIR=... -P): keeps the section-3 pages that
# belong to the interface. MAN_LINKS makes a one-line ".so" page for every
# member, struct fields included: links named after a field ("count",
# "next", "value"...) would claim generic names in man3, so only the links
# of file members (functions, macros, types, variables: pages that point to
# a header's page) are kept. Pages made from the Markdown documents (named
# after the document, e.g. "guide") are dropped too: they are in the HTML
# reference. Every page kept is named vek..., VEK... or after a header.
# Doxygen writes a text line that starts with an apostrophe as it is (a
# quoted key path such as 'mtu' opening a list item), which troff takes for
# a control line and drops: such lines get the zero-width escape \& first.
file(GLOB _pages ${MAN_DIR}/*.3)
set(_removed 0)
set(_escaped 0)
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
  else()
    file(READ ${_page} _text)
    if(_text MATCHES "\n'")
      string(REPLACE "\n'" "\n\\&'" _text "${_text}")
      file(WRITE ${_page} "${_text}")
      math(EXPR _escaped "${_escaped} + 1")
    endif()
  endif()
endforeach()
message(STATUS "man pages: ${_removed} pages of fields and documents left out, ${_escaped} with lines starting with an apostrophe escaped")
