# libtallymat.a: the internal objects linked into one relocatable object
# whose hidden symbols are then made local, so a consumer's link sees the
# thirteen functions (plus the weak instantiations of the C++ library that
# no archive can hide) and nothing it could clash with.
set(prelinked ${PROJECT_BINARY_DIR}/tallymat_prelinked.o)
if(NOT WIN32 AND CMAKE_OBJCOPY)
  add_custom_command(OUTPUT ${prelinked}
    COMMAND ${CMAKE_LINKER} -r -o ${prelinked} $<TARGET_OBJECTS:tallymat_internal> $<TARGET_OBJECTS:tallymat_elementary_lib>
    COMMAND ${CMAKE_OBJCOPY} --localize-hidden ${prelinked}
    DEPENDS $<TARGET_OBJECTS:tallymat_internal> $<TARGET_OBJECTS:tallymat_elementary_lib>
    COMMAND_EXPAND_LISTS
    COMMENT "Prelinking tallymat's objects and localising hidden symbols")
  add_library(tallymat STATIC ${prelinked})
  add_dependencies(tallymat tallymat_internal tallymat_elementary_lib)
else()
  add_library(tallymat STATIC $<TARGET_OBJECTS:tallymat_internal> $<TARGET_OBJECTS:tallymat_elementary_lib>)
endif()
# The objects are C++: consumers, C programs among them, link the C++
# runtime and libm (a prelinked object carries no language CMake could see).
set_target_properties(tallymat PROPERTIES LINKER_LANGUAGE CXX)
if(NOT WIN32)
  target_link_libraries(tallymat INTERFACE stdc++ m)
endif()
# No dllimport on Windows hosts of the static archive.
target_compile_definitions(tallymat INTERFACE TALLYMAT_STATIC)
