# Installation: headers, the library, tallycalc, the licence, the manual
# pages, a CMake package (find_package(tallymat) gives tallymat::tallymat)
# and a pkg-config file.  Three components, which are also the Debian
# packages: runtime (the shared library), dev (everything to build
# against it) and tools (tallycalc).
include(CMakePackageConfigHelpers)
set(TALLYMAT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tallymat)
install(TARGETS tallymat EXPORT tallymatTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES include/tallymat.h include/tallymat.hpp ${PROJECT_BINARY_DIR}/include/tallymat_version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
if(NOT TALLYMAT_DEBIAN)
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
endif()

# A manual page, gzipped for Debian packages.
function(tallymat_install_man source section component)
  get_filename_component(name ${source} NAME)
  if(TALLYMAT_DEBIAN)
    set(packed ${PROJECT_BINARY_DIR}/man/${name}.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND sh -c "gzip -9n -c '${source}' > '${packed}'"
      DEPENDS ${source} VERBATIM)
    add_custom_target(man_${name} ALL DEPENDS ${packed})
    set(source ${packed})
  endif()
  install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section} COMPONENT ${component})
endfunction()

if(TALLYMAT_BUILD_TOOLS)
  install(TARGETS tallycalc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  tallymat_install_man(${PROJECT_SOURCE_DIR}/tools/tallycalc/tallycalc.1 1 tools)
endif()

# tallymat(3), and a page for each function that leads to it.
tallymat_install_man(${PROJECT_SOURCE_DIR}/include/tallymat.3 3 dev)
include(${PROJECT_SOURCE_DIR}/cmake/ExportList.cmake)
tallymat_read_exports(${PROJECT_SOURCE_DIR}/src/tallymat.map exported_functions)
foreach(function IN LISTS exported_functions)
  file(WRITE ${PROJECT_BINARY_DIR}/man3/${function}.3 ".so man3/tallymat.3\n")
  tallymat_install_man(${PROJECT_BINARY_DIR}/man3/${function}.3 3 dev)
endforeach()

install(EXPORT tallymatTargets NAMESPACE tallymat:: DESTINATION ${TALLYMAT_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(cmake/tallymatConfig.cmake.in ${PROJECT_BINARY_DIR}/tallymatConfig.cmake
  INSTALL_DESTINATION ${TALLYMAT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/tallymatConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/tallymatConfig.cmake ${PROJECT_BINARY_DIR}/tallymatConfigVersion.cmake
  DESTINATION ${TALLYMAT_CMAKE_DIR} COMPONENT dev)
# The .pc file finds the prefix from where it lies, so the install can move;
# Debian's package names /usr, so that pkg-config drops the system folders
# and prints just -ltallymat, as Debian's own .pc files do.
# A static archive needs its consumers to link the C++ runtime and libm.
if(TALLYMAT_DEBIAN)
  set(TALLYMAT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH TALLYMAT_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  set(TALLYMAT_PC_PREFIX "\${pcfiledir}/${TALLYMAT_PC_TO_PREFIX}")
endif()
if(BUILD_SHARED_LIBS)
  set(TALLYMAT_PC_LIBS_PRIVATE "-lm")
  set(TALLYMAT_PC_CFLAGS "")
else()
  set(TALLYMAT_PC_LIBS_PRIVATE "-lstdc++ -lm")
  set(TALLYMAT_PC_CFLAGS " -DTALLYMAT_STATIC")
endif()
configure_file(cmake/tallymat.pc.in ${PROJECT_BINARY_DIR}/tallymat.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tallymat.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# Windows: a module-definition file and an import library that MSVC's linker
# accepts, both made from the one list of exported names.  On 32-bit Windows
# the import library maps the callers' decorated stdcall names
# ("_vinsert@12") to the DLL's plain ones, from the linker's own listing;
# it replaces the one the linker wrote, which has the names undecorated.
if(WIN32 AND BUILD_SHARED_LIBS)
  find_program(TALLYMAT_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool dlltool REQUIRED)
  set(def ${PROJECT_BINARY_DIR}/tallymat.def)
  set(lib ${PROJECT_BINARY_DIR}/tallymat.lib)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # MSVC's 32-bit linker refuses, under its default /SAFESEH, members not
    # marked safe for structured exception handling: llvm-dlltool marks
    # them (tallymat.lib), GNU dlltool does not (libtallymat.dll.a, for mingw).
    find_program(TALLYMAT_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
    add_custom_command(TARGET tallymat POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DLINKED=${PROJECT_BINARY_DIR}/tallymat-linked.def -DMAP=${PROJECT_SOURCE_DIR}/src/tallymat.map
              -DOUT=${def} -P ${PROJECT_SOURCE_DIR}/cmake/DecoratedDef.cmake
      COMMAND ${TALLYMAT_DLLTOOL} -m i386 -k -d ${def} -D tallymat.dll -l $<TARGET_LINKER_FILE:tallymat>
      COMMAND ${TALLYMAT_LLVM_DLLTOOL} -m i386 -k -d ${def} -D tallymat.dll -l ${lib}
      COMMENT "Import libraries for the stdcall names")
  else()
    list(JOIN exported_functions "\n  " exported)
    file(WRITE ${def} "LIBRARY tallymat.dll\nEXPORTS\n  ${exported}\n")
    add_custom_command(TARGET tallymat POST_BUILD
      COMMAND ${TALLYMAT_DLLTOOL} -m i386:x86-64 -d ${def} -D tallymat.dll -l ${lib}
      COMMENT "Import library tallymat.lib for MSVC")
  endif()
  install(FILES ${def} ${lib} DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
endif()
