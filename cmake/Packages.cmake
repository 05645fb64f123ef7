# Packages made by CPack: with TALLYMAT_DEBIAN, the Debian packages libtallymat1, libtallymat-dev,
# tallycalc and python3-tallymat (./run deb), one per install component.  CPack rather than a
# debian/ folder: the CMake install rules already say what goes where, and
# the packages come from the same build that the tests run.
set(CPACK_PACKAGE_NAME tallymat)
set(CPACK_PACKAGE_VENDOR "the tallymat authors")
set(CPACK_PACKAGE_CONTACT "the tallymat authors <tallymat@tallymat.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# CPackDeb puts a package-wide summary before each component's description
# unless the summary is CPack's default text; each component's description
# below begins with its own synopsis line.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_PACKAGE_NAME} built using CMake")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

# (The source tarball is the last commit, made by git archive: ./run dist.)

if(TALLYMAT_DEBIAN)
  set(TALLYMAT_DEB_VERSION ${PROJECT_VERSION}-1)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL runtime dev tools python)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SOURCE tallymat)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
  set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtallymat1)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  # The library's shlibs and symbols files (every export with the version
  # that introduced it, from the one list of exports) and an ldconfig
  # trigger; ./run deb drops the maintainer scripts that call ldconfig,
  # which CPack writes for every library under /usr/lib.
  include(${PROJECT_SOURCE_DIR}/cmake/ExportList.cmake)
  tallymat_read_exports(${PROJECT_SOURCE_DIR}/src/tallymat.map exported)
  list(SORT exported)
  set(symbols "libtallymat.so.${PROJECT_VERSION_MAJOR} libtallymat1 #MINVER#\n* Build-Depends-Package: libtallymat-dev\n")
  foreach(name IN LISTS exported)
    string(APPEND symbols " ${name}@Base 1.0.0\n")
  endforeach()
  file(WRITE ${PROJECT_BINARY_DIR}/debian/symbols "${symbols}")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/shlibs "libtallymat ${PROJECT_VERSION_MAJOR} libtallymat1 (>= 1.0.0)\n")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/shlibs ${PROJECT_BINARY_DIR}/debian/symbols ${PROJECT_BINARY_DIR}/debian/triggers)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "arithmetic formulas translated once, evaluated often
tallymat lets a program evaluate arithmetic formulas typed by its users:
it keeps named double variables, translates a formula such as
x*(x+1)-sqrt(y) once and evaluates it by its handle as often as wanted,
through thirteen C functions.  Errors are integer codes with fixed
messages; formulas evaluated often run as x86-64 machine code.
.
This package holds the shared library.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtallymat-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libtallymat1 (= ${TALLYMAT_DEB_VERSION})")
  set(CPACK_DEBIAN_DEV_DESCRIPTION "arithmetic formulas translated once, evaluated often (development)
tallymat lets a program evaluate arithmetic formulas typed by its users:
it keeps named double variables, translates a formula once and evaluates
it by its handle as often as wanted, through thirteen C functions.
.
This package holds the C header, the C++ wrapper, the link to the shared
library, the CMake package, the pkg-config file and the tallymat(3)
manual pages.")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tallycalc)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION math)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libtallymat1 (= ${TALLYMAT_DEB_VERSION})")
  set(CPACK_DEBIAN_TOOLS_DESCRIPTION "calculator on the tallymat formula library
tallycalc evaluates arithmetic formulas: at a prompt with line editing,
history and completion, from scripts, one-shot from the command line, as
tables over a range of a variable (or CSV) and as plots drawn in the
terminal with braille characters.")

  # The Python module where Debian's python3 finds modules of every
  # version, with the metadata pip lists (what the wheel holds).
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tallymat)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, libtallymat1 (>= ${PROJECT_VERSION})")
  set(CPACK_DEBIAN_PYTHON_DESCRIPTION "arithmetic formulas translated once, evaluated often (Python)
tallymat lets a program evaluate arithmetic formulas typed by its users:
it keeps named double variables, translates a formula once and evaluates
it as often as wanted.
.
This package holds the Python module tallymat, which calls the shared
library through ctypes: formula objects, exceptions with the library's
codes and messages, the variable table as a mapping.")
  set(python_dir ${CMAKE_INSTALL_PREFIX}/lib/python3/dist-packages)
  install(FILES python/tallymat/__init__.py DESTINATION ${python_dir}/tallymat COMPONENT python)
  file(WRITE ${PROJECT_BINARY_DIR}/debian/python/METADATA "Metadata-Version: 2.1
Name: tallymat
Version: ${PROJECT_VERSION}
Summary: Arithmetic formulas translated once, evaluated often: the tallymat library through ctypes
License: MIT
")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/python/INSTALLER "dpkg\n")
  install(FILES ${PROJECT_BINARY_DIR}/debian/python/METADATA ${PROJECT_BINARY_DIR}/debian/python/INSTALLER
    DESTINATION ${python_dir}/tallymat-${PROJECT_VERSION}.dist-info COMPONENT python)

  # Each package's copyright (machine-readable), changelog and lintian overrides.
  configure_file(cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
  execute_process(COMMAND sh -c "gzip -9n -c changelog > changelog.Debian.gz"
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/debian)
  foreach(component runtime dev tools python)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    install(FILES cmake/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
    if(EXISTS ${PROJECT_SOURCE_DIR}/cmake/debian/${package}.lintian-overrides)
      install(FILES cmake/debian/${package}.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${package} COMPONENT ${component})
    endif()
  endforeach()
endif()

include(CPack)
