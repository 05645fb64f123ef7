# Cross-building the 32-bit tallymat.dll with Debian's mingw-w64.
set(tallymat_mingw_processor i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
