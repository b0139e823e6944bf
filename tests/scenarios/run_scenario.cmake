# Runs DIR/NAME.scn with BENCH against MODULE and compares with the golden
# file; prints a unified diff on a mismatch. UPDATE=1 rewrites the golden file.
# EMULATOR, when set, runs BENCH (a cross-built program).
execute_process(COMMAND ${EMULATOR} ${BENCH} run --plugin ${MODULE} ${NAME}.scn
                WORKING_DIRECTORY ${DIR}
                OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)

if(EXISTS ${DIR}/${NAME}.expected_error)
  file(READ ${DIR}/${NAME}.expected_error want)
  if(NOT rc EQUAL 2 OR NOT err STREQUAL want OR NOT out STREQUAL "")
    message(FATAL_ERROR "expected exit 2 with\n${want}got exit ${rc} with\n${err}stdout:\n${out}")
  endif()
  return()
endif()

if(NOT rc EQUAL 0)
  message(FATAL_ERROR "pendant-bench run exited ${rc}\n${err}")
endif()
if(UPDATE)
  file(WRITE ${DIR}/${NAME}.expected "${out}")
  message(STATUS "wrote ${DIR}/${NAME}.expected")
  return()
endif()
file(READ ${DIR}/${NAME}.expected want)
if(NOT out STREQUAL want)
  file(WRITE ${OUT}/${NAME}.actual "${out}")
  # The diff goes straight to the test's output, unwrapped.
  execute_process(COMMAND diff -u ${DIR}/${NAME}.expected ${OUT}/${NAME}.actual)
  message(FATAL_ERROR "trace of ${NAME}.scn differs from ${NAME}.expected (diff above)")
endif()
