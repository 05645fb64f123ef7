# Cross-building tallymat.dll for Windows with Debian's mingw-w64: 64-bit by
# default, 32-bit through cmake/mingw-w64-i686.cmake.  Test programs run
# under wine.
if(NOT DEFINED tallymat_mingw_processor)
  set(tallymat_mingw_processor x86_64)
endif()
set(tallymat_mingw ${tallymat_mingw_processor}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${tallymat_mingw_processor})
# The POSIX thread model, whose C++ runtime has std::mutex (GoogleTest needs
# it); everything is linked statically, so no runtime DLL travels along.
set(CMAKE_C_COMPILER ${tallymat_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tallymat_mingw}-g++-posix)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_RC_COMPILER ${tallymat_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${tallymat_mingw} $ENV{TALLYMAT_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Debian's wine runs 64-bit programs, and 32-bit ones where wine32 is
# installed and the kernel runs 32-bit programs (tools/wine.sh).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine.sh)
