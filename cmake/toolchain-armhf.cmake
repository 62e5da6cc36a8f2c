# Cross-compiles for 32-bit ARM Linux, hard-float (armhf), with Debian's
# cross toolchain (crossbuild-essential-armhf). Test programs run under
# qemu-arm (qemu-user) with the target's sysroot, so ctest runs the same
# tests unchanged:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(VEK_ARMHF_TRIPLE arm-linux-gnueabihf)
set(VEK_ARMHF_SYSROOT /usr/${VEK_ARMHF_TRIPLE})

set(CMAKE_C_COMPILER ${VEK_ARMHF_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VEK_ARMHF_TRIPLE}-g++)
set(CMAKE_AR ${VEK_ARMHF_TRIPLE}-gcc-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${VEK_ARMHF_TRIPLE}-gcc-ranlib CACHE FILEPATH "Ranlib")

# Every translation unit is built by this same compiler, so GCC's notes on
# the ARM parameter-passing change of GCC 7.1 (-Wpsabi) are only noise.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm;-L;${VEK_ARMHF_SYSROOT})

# Libraries and headers come from the target's tree only; programs run on
# the build machine.
set(CMAKE_FIND_ROOT_PATH ${VEK_ARMHF_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
