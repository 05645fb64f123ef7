# Runs tallycalc with ARGS and optional INPUT (CLOSED: standard input closed;
# OUTPUT, a file for its standard output), then compares its standard output
# with EXPECTED or looks for CONTAINS in it, looks for ERR_CONTAINS in its
# standard error and makes sure ERR_LACKS is not there, and compares its
# exit status with STATUS.
# ARGS separates arguments with "|", which survives add_test unsplit; so does
# EMULATOR, the command a cross build runs tallycalc through.
set(ENV{LC_ALL} C.UTF-8)
string(REPLACE "|" ";" ARGS "${ARGS}")
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
if(NOT DEFINED INPUT)
  set(INPUT /dev/null)
endif()
if(CLOSED)  # through the shell, which closes it before tallycalc starts
  set(EMULATOR sh -c "exec \"$@\" <&-" sh ${EMULATOR})
endif()
set(ENV{NO_COLOR} 1)
if(DEFINED OUTPUT)
  execute_process(COMMAND ${EMULATOR} ${TALLYCALC} ${ARGS} INPUT_FILE ${INPUT} OUTPUT_FILE ${OUTPUT}
    ERROR_VARIABLE errors RESULT_VARIABLE status)
  set(output "")
else()
  execute_process(COMMAND ${EMULATOR} ${TALLYCALC} ${ARGS} INPUT_FILE ${INPUT}
    OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
endif()
if(DEFINED EXPECTED)
  file(READ ${EXPECTED} expected)
  if(NOT output STREQUAL expected)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/actual.txt "${output}")
    message(FATAL_ERROR "output differs from ${EXPECTED}:\n${output}")
  endif()
endif()
function(expect_in stream text needle)
  string(FIND "${text}" "${needle}" where)
  if(where EQUAL -1)
    message(FATAL_ERROR "${stream} lacks \"${needle}\":\n${text}")
  endif()
endfunction()
if(DEFINED CONTAINS)
  expect_in("standard output" "${output}" "${CONTAINS}")
endif()
if(DEFINED ERR_CONTAINS)
  expect_in("standard error" "${errors}" "${ERR_CONTAINS}")
endif()
if(DEFINED ERR_LACKS)
  string(FIND "${errors}" "${ERR_LACKS}" where)
  if(NOT where EQUAL -1)
    message(FATAL_ERROR "standard error has \"${ERR_LACKS}\":\n${errors}")
  endif()
endif()
if(NOT status EQUAL STATUS)
  message(FATAL_ERROR "exit status ${status}, expected ${STATUS}\n${output}${errors}")
endif()
