# Checks the shared library's dynamic symbol table:
#   -DMAP=src/tallymat.map: it defines exactly the thirteen functions of the
#     C interface, as the map lists them;
#   -DFORBIDDEN_IMPORTS=REGEX: it imports no symbol whose name matches
#     (exp, log, log10 and pow are the library's own, so that no C runtime
#     decides a result).
find_program(NM nm REQUIRED)
function(symbols option out)
  execute_process(COMMAND ${NM} -D ${option} ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
  endif()
  string(REGEX MATCHALL "[^\n]+" lines "${listing}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^.* ([^ @]+)(@.*)?$" "\\1" name "${line}")
    list(APPEND names ${name})
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

if(MAP)
  symbols(--defined-only found)
  list(SORT found)
  include(${CMAKE_CURRENT_LIST_DIR}/../cmake/ExportList.cmake)
  tallymat_read_exports(${MAP} expected)
  list(SORT expected)
  if(NOT found STREQUAL expected)
    message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
  endif()
  message(STATUS "exports: ${found}")
endif()

if(FORBIDDEN_IMPORTS)
  symbols(--undefined-only imported)
  list(FILTER imported INCLUDE REGEX "^(${FORBIDDEN_IMPORTS})$")
  if(imported)
    message(FATAL_ERROR "imported from the C runtime: ${imported}")
  endif()
  message(STATUS "none of ${FORBIDDEN_IMPORTS} imported")
endif()
