# Runs tallycalc with ARGS and optional INPUT, then compares its
# standard output with EXPECTED and its exit status with STATUS.
# ARGS separates arguments with "|", which survives add_test unsplit.
set(ENV{LC_ALL} C.UTF-8)
string(REPLACE "|" ";" ARGS "${ARGS}")
if(NOT DEFINED INPUT)
  set(INPUT /dev/null)
endif()
execute_process(COMMAND ${TALLYCALC} ${ARGS}
  INPUT_FILE ${INPUT}
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
if(DEFINED EXPECTED)
  file(READ ${EXPECTED} expected)
  if(NOT output STREQUAL expected)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/actual.txt "${output}")
    message(FATAL_ERROR "output differs from ${EXPECTED}:\n${output}")
  endif()
endif()
if(DEFINED CONTAINS)
  string(FIND "${output}" "${CONTAINS}" where)
  if(where EQUAL -1)
    message(FATAL_ERROR "output lacks \"${CONTAINS}\":\n${output}")
  endif()
endif()
if(NOT status EQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}\n${output}${errors}")
endif()
