# Cross-building for another Linux CPU with Debian's cross compilers
# (crossbuild-essential-ARCH), for tools/cross_test.sh.  The environment
# names the target: TALLYMAT_CROSS is its GNU triplet (aarch64-linux-gnu,
# i686-linux-gnu, s390x-linux-gnu) and TALLYMAT_CROSS_PREFIX where
# GoogleTest built for it is installed.  Test programs run through
# qemu-user; i686 ones on this CPU itself, through the target's loader,
# since qemu-i386 does not pass NaNs on as the hardware does.
set(tallymat_triplet $ENV{TALLYMAT_CROSS})
string(REGEX REPLACE "-.*" "" tallymat_processor "${tallymat_triplet}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${tallymat_processor})
set(CMAKE_C_COMPILER ${tallymat_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${tallymat_triplet}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${tallymat_triplet} $ENV{TALLYMAT_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(tallymat_processor STREQUAL "i686")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/${tallymat_triplet}/lib/ld-linux.so.2 --library-path /usr/${tallymat_triplet}/lib)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${tallymat_processor} -L /usr/${tallymat_triplet})
endif()
