# Runs the controller and the worker as separate programs, one after the
# other, on a region of a name unique to the run, and compares the
# transcript (each command line, its standard output, its standard error
# and a non-zero exit status) with the expected text, in which @REGION@
# stands for the name. The region is removed at the end, whatever happened.
#   -DCONTROLLER=... -DWORKER=... -DVEKUTIL=... -DWORK=dir -DEXPECTED=file
#   [-DEMULATOR="cmd;args"]
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
string(RANDOM LENGTH 8 ALPHABET abcdefghijklmnopqrstuvwxyz0123456789 tag)
set(region "vektest-cw-${tag}")
set(transcript "")

# step(LABEL program args...): runs it and appends to the transcript.
function(step label program)
  execute_process(COMMAND ${EMULATOR} ${program} ${ARGN}
    WORKING_DIRECTORY ${WORK}
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
  string(JOIN " " line ${label} ${ARGN})
  string(APPEND transcript "$ ${line}\n${out}")
  if(NOT err STREQUAL "")
    string(APPEND transcript "stderr: ${err}")
  endif()
  if(NOT rc EQUAL 0)
    string(APPEND transcript "[exit ${rc}]\n")
  endif()
  set(transcript "${transcript}" PARENT_SCOPE)
endfunction()

step(controller ${CONTROLLER} ${region})
step(worker ${WORKER} ${region} queues 4 keep)
step(worker ${WORKER} ${region} ports 2)
step(worker ${WORKER} ${region} queues 61)
step(worker ${WORKER} ${region} lanes 1)
file(WRITE ${WORK}/go "")
step(controller ${CONTROLLER} ${region} go 5)
step(vekutil ${VEKUTIL} rsrc ${region})
step(vekutil ${VEKUTIL} region rm ${region})
step(worker ${WORKER} ${region})

# Whatever failed above, the region goes (its shared-memory object, in case
# `vekutil region rm` did not remove it).
file(REMOVE /dev/shm/vek.${region})

file(READ ${EXPECTED} expected)
string(REPLACE "@REGION@" "${region}" expected "${expected}")
if(NOT transcript STREQUAL expected)
  file(WRITE ${WORK}/controller_worker.out "${transcript}")
  message(FATAL_ERROR "the transcript differs from ${EXPECTED}; got ${WORK}/controller_worker.out:\n${transcript}")
endif()
