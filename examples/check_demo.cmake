# Runs vekdemo on its sample session and compares the output with the
# expected text.
execute_process(COMMAND ${EMULATOR} ${DEMO}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "vekdemo exited with ${rc}\n${out}\n${err}")
endif()
file(READ ${EXPECTED} expected)
if(NOT out STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/vekdemo.out "${out}")
  message(FATAL_ERROR "vekdemo output differs from ${EXPECTED}; got ${CMAKE_CURRENT_BINARY_DIR}/vekdemo.out")
endif()
