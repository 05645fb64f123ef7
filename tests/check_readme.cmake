# The README must show examples/example.c and examples/example.cpp as they
# are compiled and run by the tests.
file(READ ${ROOT}/README.md readme)
foreach(example example.c example.cpp)
  file(READ ${ROOT}/examples/${example} code)
  string(FIND "${readme}" "${code}" where)
  if(where EQUAL -1)
    message(FATAL_ERROR "README.md does not show examples/${example} verbatim")
  endif()
endforeach()
