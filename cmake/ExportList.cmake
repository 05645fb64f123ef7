# The library's exported names, read from their one list (src/tallymat.map)
# by the install rules, the packages and the export checks.
function(tallymat_read_exports map out)
  file(READ ${map} text)
  string(REGEX MATCH "global:([^}]*)local:" _ "${text}")
  string(REGEX MATCHALL "[a-z]+" names "${CMAKE_MATCH_1}")
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# For shell scripts: cmake -DPRINT_EXPORTS=src/tallymat.map -P cmake/ExportList.cmake
# prints the names, one per line.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED PRINT_EXPORTS)
  tallymat_read_exports(${PRINT_EXPORTS} names)
  list(JOIN names "\n" lines)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${lines}")
endif()
