# Writes the 32-bit DLL's module-definition file with decorated stdcall
# names ("vinsert@12"), read from the linker's listing (lines such as
# "vinsert = vinsert@12 @2"), and fails unless it names exactly the
# exported functions.
#   cmake -DLINKED=... -DMAP=src/tallymat.map -DOUT=tallymat.def -P cmake/DecoratedDef.cmake
include(${CMAKE_CURRENT_LIST_DIR}/ExportList.cmake)
tallymat_read_exports(${MAP} expected)
file(STRINGS ${LINKED} lines REGEX "^ *[a-z]+ = [a-z]+@[0-9]+")
set(decorated "")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "= ([a-z]+)@([0-9]+)" _ "${line}")
  list(APPEND names ${CMAKE_MATCH_1})
  list(APPEND decorated "${CMAKE_MATCH_1}@${CMAKE_MATCH_2}")
endforeach()
list(SORT names)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "the linker exported [${names}], not [${expected}]")
endif()
list(JOIN decorated "\n  " body)
file(WRITE ${OUT} "LIBRARY tallymat.dll\nEXPORTS\n  ${body}\n")
