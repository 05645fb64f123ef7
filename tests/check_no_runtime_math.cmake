# Fails if the shared library imports exp, log, log10 or pow (or a relative
# of theirs) from the C runtime: they are the library's own, correctly
# rounded, so that no C runtime decides a result.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[ \t](exp|exp2|expm1|exp10|log|log10|log2|log1p|pow|fma)[fl]?(@[^\n]*)?\n" imported "${listing}")
if(imported)
  message(FATAL_ERROR "imported from the C runtime: ${imported}")
endif()
message(STATUS "no exp, log, log10 or pow from the C runtime")
