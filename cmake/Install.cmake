# Installation: headers, the library, tallycalc, the licence, a CMake package
# (find_package(tallymat) gives tallymat::tallymat) and a pkg-config file.
include(CMakePackageConfigHelpers)
set(TALLYMAT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tallymat)
install(TARGETS tallymat EXPORT tallymatTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/tallymat.h include/tallymat.hpp ${PROJECT_BINARY_DIR}/include/tallymat_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TALLYMAT_BUILD_TOOLS)
  install(TARGETS tallycalc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES tools/tallycalc/tallycalc.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# tallymat(3), and a page for each function that leads to it.
install(FILES include/tallymat.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
foreach(function vinsert vlookup vgetvalue vsetvalue vgetname vclr exprpost exprdelete exprclr calcpost
                 geterrnum geterroffs getstrerror)
  file(WRITE ${PROJECT_BINARY_DIR}/man3/${function}.3 ".so man3/tallymat.3\n")
  install(FILES ${PROJECT_BINARY_DIR}/man3/${function}.3 DESTINATION ${CMAKE_INSTALL_MANDIR}/man3)
endforeach()
install(EXPORT tallymatTargets NAMESPACE tallymat:: DESTINATION ${TALLYMAT_CMAKE_DIR})
configure_package_config_file(cmake/tallymatConfig.cmake.in ${PROJECT_BINARY_DIR}/tallymatConfig.cmake
  INSTALL_DESTINATION ${TALLYMAT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tallymatConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tallymatConfig.cmake ${PROJECT_BINARY_DIR}/tallymatConfigVersion.cmake
  DESTINATION ${TALLYMAT_CMAKE_DIR})

# The .pc file finds the prefix from where it lies, so the install can move.
# A static archive needs its consumers to link the C++ runtime and libm.
file(RELATIVE_PATH TALLYMAT_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
if(BUILD_SHARED_LIBS)
  set(TALLYMAT_PC_LIBS_PRIVATE "-lm")
  set(TALLYMAT_PC_CFLAGS "")
else()
  set(TALLYMAT_PC_LIBS_PRIVATE "-lstdc++ -lm")
  set(TALLYMAT_PC_CFLAGS " -DTALLYMAT_STATIC")
endif()
configure_file(cmake/tallymat.pc.in ${PROJECT_BINARY_DIR}/tallymat.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tallymat.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Windows: a module-definition file and an import library that MSVC's linker
# accepts, both made from the one list of exported names.
if(WIN32 AND BUILD_SHARED_LIBS)
  file(READ ${PROJECT_SOURCE_DIR}/src/tallymat.map map)
  string(REGEX MATCH "global:([^}]*)local:" _ "${map}")
  string(REGEX MATCHALL "[a-z]+" exported "${CMAKE_MATCH_1}")
  list(JOIN exported "\n  " exported)
  file(WRITE ${PROJECT_BINARY_DIR}/tallymat.def "LIBRARY tallymat.dll\nEXPORTS\n  ${exported}\n")
  find_program(TALLYMAT_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool dlltool REQUIRED)
  add_custom_command(TARGET tallymat POST_BUILD
    COMMAND ${TALLYMAT_DLLTOOL} -m i386:x86-64 -d ${PROJECT_BINARY_DIR}/tallymat.def
            -D tallymat.dll -l ${PROJECT_BINARY_DIR}/tallymat.lib
    COMMENT "Import library tallymat.lib for MSVC")
  install(FILES ${PROJECT_BINARY_DIR}/tallymat.def ${PROJECT_BINARY_DIR}/tallymat.lib
    DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
