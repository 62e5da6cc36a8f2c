# The help texts of vekutil have one source, the program: --help (and -h)
# print them, and the blocks of docs/vekutil.md and of the man page
# vekutil.1 that hold them must be the same texts. Variables: VEKUTIL,
# EMULATOR (may be empty), MARKDOWN, MANPAGE.
#
# With -DUPDATE=ON the script rewrites those blocks from the program
# instead of checking them:
#   cmake -DVEKUTIL=build/tools/vekutil/vekutil -DMARKDOWN=docs/vekutil.md \
#         -DMANPAGE=tools/vekutil/vekutil.1 -DUPDATE=ON -P tests/tools/help.cmake
#
# In docs/vekutil.md a block is a line "<!-- help: vekutil map set -->"
# followed by a fenced block; in vekutil.1 a line
# '.\" help: vekutil map set' followed by .nf, the text and .fi, the text
# written with \e for '\', \- for '-' and \& before a leading '.' or "'".
cmake_minimum_required(VERSION 3.16)

set(_commands "" "map" "status" "list" "ipcsum"
  "map dump" "map get" "map set" "map text" "map encode" "map json"
  "region" "region create" "region ls" "region info" "region check" "region rm" "rsrc")
set(_failures 0)

function(problem text)
  message(SEND_ERROR "${text}")
endfunction()

# Runs vekutil with ARGN; sets out, err and rc in the caller.
function(run_vekutil)
  execute_process(COMMAND ${EMULATOR} ${VEKUTIL} ${ARGN}
    OUTPUT_VARIABLE o ERROR_VARIABLE e RESULT_VARIABLE r)
  set(out "${o}" PARENT_SCOPE)
  set(err "${e}" PARENT_SCOPE)
  set(rc "${r}" PARENT_SCOPE)
endfunction()

# The help of one command, checked to be the same for --help and -h.
function(help_of cmd var)
  string(REPLACE " " ";" words "${cmd}")
  run_vekutil(${words} --help)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    problem("[vekutil ${cmd} --help] exit status ${rc}, standard error:\n${err}")
  endif()
  set(help "${out}")
  set(others -h)
  if(cmd STREQUAL "" OR cmd STREQUAL "map" OR cmd STREQUAL "region")
    list(APPEND others help)
  endif()
  foreach(h IN LISTS others)
    run_vekutil(${words} ${h})
    if(NOT rc EQUAL 0 OR NOT out STREQUAL help)
      problem("[vekutil ${cmd} ${h}] exit status ${rc}, output differs from --help:\n${out}")
    endif()
  endforeach()
  set(${var} "${help}" PARENT_SCOPE)
endfunction()

function(roff_escape text var)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

function(roff_unescape name text var)
  # \e, \- and \& only; \e last: the backslash it stands for starts no escape.
  string(REPLACE "\\-" "-" text "${text}")
  string(REPLACE "\\&" "" text "${text}")
  string(ASCII 1 mark)
  string(REPLACE "\\e" "${mark}" text "${text}")
  if(text MATCHES "\\\\")
    problem("[${name}] the man page block holds an escape other than \\e, \\- and \\&")
  endif()
  string(REPLACE "${mark}" "\\" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

# Finds the block of a command: sets start and stop (offsets of its text)
# in the caller, or reports a problem. The opening and closing lines are
# "```\n" in Markdown, ".nf\n" and ".fi\n" in the man page.
function(find_block doc marker open close name)
  string(FIND "${doc}" "${marker}" at)
  if(at LESS 0)
    problem("[${name}] no line '${marker}'")
    set(start -1 PARENT_SCOPE)
    return()
  endif()
  string(LENGTH "${marker}" n)
  math(EXPR after "${at} + ${n}")
  string(SUBSTRING "${doc}" ${after} -1 rest)
  string(FIND "${rest}" "${marker}" again)
  if(NOT again LESS 0)
    problem("[${name}] two lines '${marker}'")
  endif()
  string(LENGTH "${open}" no)
  string(SUBSTRING "${rest}" 0 ${no} head)
  if(NOT head STREQUAL "${open}")
    problem("[${name}] '${marker}' must be followed by the line '${open}'")
    set(start -1 PARENT_SCOPE)
    return()
  endif()
  string(SUBSTRING "${rest}" ${no} -1 body)
  math(EXPR s "${after} + ${no}")
  string(LENGTH "${close}" nc)
  string(SUBSTRING "${body}" 0 ${nc} first)
  if(first STREQUAL "${close}")  # an empty block
    set(start ${s} PARENT_SCOPE)
    set(stop ${s} PARENT_SCOPE)
    return()
  endif()
  string(FIND "${body}" "\n${close}" end)
  if(end LESS 0)
    problem("[${name}] the block after '${marker}' has no closing line")
    set(start -1 PARENT_SCOPE)
    return()
  endif()
  math(EXPR e "${s} + ${end} + 1")
  set(start ${s} PARENT_SCOPE)
  set(stop ${e} PARENT_SCOPE)
endfunction()

file(READ ${MARKDOWN} _md)
file(READ ${MANPAGE} _man)
foreach(cmd IN LISTS _commands)
  set(title "vekutil")
  if(NOT cmd STREQUAL "")
    set(title "vekutil ${cmd}")
  endif()
  help_of("${cmd}" help)

  find_block("${_md}" "<!-- help: ${title} -->\n" "```\n" "```\n" "docs/vekutil.md: ${title}")
  if(start GREATER_EQUAL 0)
    math(EXPR n "${stop} - ${start}")
    string(SUBSTRING "${_md}" ${start} ${n} block)
    if(UPDATE)
      string(SUBSTRING "${_md}" 0 ${start} head)
      string(SUBSTRING "${_md}" ${stop} -1 tail)
      set(_md "${head}${help}${tail}")
    elseif(NOT block STREQUAL help)
      problem("[docs/vekutil.md: ${title}] the block differs from '${title} --help':\n${block}--- the program prints:\n${help}")
    endif()
  endif()

  find_block("${_man}" ".\\\" help: ${title}\n" ".nf\n" ".fi\n" "vekutil.1: ${title}")
  if(start GREATER_EQUAL 0)
    math(EXPR n "${stop} - ${start}")
    string(SUBSTRING "${_man}" ${start} ${n} block)
    if(UPDATE)
      roff_escape("${help}" escaped)
      string(SUBSTRING "${_man}" 0 ${start} head)
      string(SUBSTRING "${_man}" ${stop} -1 tail)
      set(_man "${head}${escaped}${tail}")
    else()
      roff_unescape("vekutil.1: ${title}" "${block}" text)
      if(NOT text STREQUAL help)
        problem("[vekutil.1: ${title}] the block differs from '${title} --help':\n${text}--- the program prints:\n${help}")
      endif()
    endif()
  endif()
endforeach()

if(UPDATE)
  file(WRITE ${MARKDOWN} "${_md}")
  file(WRITE ${MANPAGE} "${_man}")
  message(STATUS "help blocks written to ${MARKDOWN} and ${MANPAGE}")
endif()

# The man page is a proper one: groff reads it without a warning.
find_program(GROFF groff)
if(GROFF AND NOT UPDATE)
  execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${MANPAGE}
    OUTPUT_VARIABLE gout ERROR_VARIABLE gerr RESULT_VARIABLE grc)
  if(NOT grc EQUAL 0 OR NOT gerr STREQUAL "")
    problem("[vekutil.1] groff -man -ww: exit status ${grc}\n${gerr}")
  endif()
endif()
