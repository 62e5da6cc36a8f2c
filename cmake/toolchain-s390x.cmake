# Cross-compiles for 64-bit IBM Z Linux (s390x), a big-endian target, with
# Debian's cross toolchain (crossbuild-essential-s390x). Test programs run
# under qemu-s390x (qemu-user) with the target's sysroot, so ctest runs the
# same tests unchanged:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(VEK_S390X_TRIPLE s390x-linux-gnu)
set(VEK_S390X_SYSROOT /usr/${VEK_S390X_TRIPLE})

set(CMAKE_C_COMPILER ${VEK_S390X_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VEK_S390X_TRIPLE}-g++)
set(CMAKE_AR ${VEK_S390X_TRIPLE}-gcc-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${VEK_S390X_TRIPLE}-gcc-ranlib CACHE FILEPATH "Ranlib")

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x;-L;${VEK_S390X_SYSROOT})

# Libraries and headers come from the target's tree only; programs run on
# the build machine.
set(CMAKE_FIND_ROOT_PATH ${VEK_S390X_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
