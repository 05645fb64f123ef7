# Every text tallycalc passes through tr() (or marks with N_()) has its Russian translation:
# the texts are extracted from the sources and compared with the catalogue.
#   cmake -DXGETTEXT=... -DMSGCMP=... -DSOURCES=dir -DCATALOGUE=ru.po -DWORK=dir -P check_catalogue.cmake
file(GLOB sources ${SOURCES}/*.cpp)
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${XGETTEXT} --language=C++ --keyword=tr --keyword=N_ --from-code=UTF-8 --no-location
                        -o ${WORK}/tallycalc.pot ${sources}
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR errors MATCHES "warning|invalid")
  message(FATAL_ERROR "xgettext: ${errors}")
endif()
execute_process(COMMAND ${MSGCMP} ${CATALOGUE} ${WORK}/tallycalc.pot RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the catalogue lacks texts of the sources (add them to ${CATALOGUE}):\n${errors}")
endif()
