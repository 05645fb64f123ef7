# Compiles the Pascal unit and the example program of docs/hosts.md, as the
# page shows them, with Free Pascal in Delphi mode, and runs them and
# tests/pascal_host.pas against the library in LIBRARY_DIR.
#   cmake -DFPC=... -DROOT=... -DLIBRARY_DIR=... -DWORK=... -P check_pascal_host.cmake
file(READ ${ROOT}/docs/hosts.md page)
string(REPLACE ";" "<semicolon>" page "${page}")  # kept out of CMake's lists
string(REGEX MATCHALL "```pascal\n[^`]*```" blocks "${page}")
list(LENGTH blocks count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "docs/hosts.md should show the unit and one program in pascal blocks, not ${count}")
endif()
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(indexes 0 1)
set(names tallymat.pas example.pas)
foreach(index name IN ZIP_LISTS indexes names)
  list(GET blocks ${index} block)
  string(REGEX REPLACE "^```pascal\n" "" block "${block}")
  string(REGEX REPLACE "```$" "" block "${block}")
  string(REPLACE "<semicolon>" ";" block "${block}")
  if(name STREQUAL "example.pas")
    set(block "program example;\n{$mode delphi}\n${block}")
  endif()
  file(WRITE ${WORK}/${name} "${block}")
endforeach()
file(COPY ${ROOT}/tests/pascal_host.pas DESTINATION ${WORK})

function(build_and_run program expected)
  execute_process(COMMAND ${FPC} -Mdelphi -vew -Fu${WORK} -FU${WORK} -Fl${LIBRARY_DIR} ${WORK}/${program}.pas
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "fpc ${program}.pas failed:\n${output}")
  endif()
  execute_process(COMMAND env LD_LIBRARY_PATH=${LIBRARY_DIR} LC_ALL=C.UTF-8 ${WORK}/${program}
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT status EQUAL 0 OR NOT output STREQUAL expected)
    message(FATAL_ERROR "${program} (status ${status}) printed:\n${output}\nexpected:\n${expected}")
  endif()
  message(STATUS "${program}: ${output}")
endfunction()
build_and_run(example "6, as expected\n")
build_and_run(pascal_host "Недопустимое место конца строки\npascal host: every check passed\n")
