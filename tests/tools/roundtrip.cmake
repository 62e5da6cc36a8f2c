# Streams encoded by the library from seeded random trees of every type
# (bounded in size) come back byte for byte through the text form.
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/vekutil_common.cmake)

if(NOT DEFINED SEEDS)
  set(SEEDS 60)
endif()
foreach(seed RANGE 1 ${SEEDS})
  execute_process(COMMAND ${EMULATOR} ${RANDTREE} ${seed} ${WORK}/r${seed}.bin RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "vekutil_randtree ${seed} failed: ${rc}")
  endif()
  vekutil_check(NAME text${seed} ARGS map text r${seed}.bin -o r${seed}.txt)
  vekutil_check(NAME encode${seed} ARGS map encode r${seed}.txt -o r${seed}.back)
  vekutil_same_files(roundtrip${seed} ${WORK}/r${seed}.bin ${WORK}/r${seed}.back)
  # The other views of the same stream read it without complaint.
  if(seed LESS_EQUAL 10)
    vekutil_check(NAME json${seed} ARGS map json r${seed}.bin -o r${seed}.json)
    vekutil_check(NAME dump${seed} ARGS map dump --full r${seed}.bin)
  endif()
endforeach()
