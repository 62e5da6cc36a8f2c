# Runs one example program (through the emulator in cross builds) and
# compares its output with the expected text byte for byte.
#   -DEXE=program -DEXPECTED=file.expected [-DEMULATOR="cmd;args"]
execute_process(COMMAND ${EMULATOR} ${EXE}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${EXE} exited with ${rc}\n${out}\n${err}")
endif()
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  get_filename_component(name ${EXPECTED} NAME_WE)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.out "${out}")
  message(FATAL_ERROR "${EXE}: output differs from ${EXPECTED}; got ${CMAKE_CURRENT_BINARY_DIR}/${name}.out")
endif()
