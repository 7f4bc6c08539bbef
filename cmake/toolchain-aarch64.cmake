# Cross-building for Linux on 64-bit ARM on Debian with g++-aarch64-linux-gnu:
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake
# Everything is linked static, so the programs need no ARM libraries at run time and
# qemu-aarch64 (Debian's qemu-user) runs them on an x86 machine as they are. The tests
# are built too: GoogleTest from Debian's sources (package googletest), since Debian's
# libgtest is built for the host only; CTest and the end-to-end tests start every ARM
# program through the emulator by name, so nothing depends on binfmt_misc.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TRAWLEX_CROSS_PREFIX aarch64-linux-gnu)
find_program(CMAKE_CXX_COMPILER NAMES ${TRAWLEX_CROSS_PREFIX}-g++ REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAWLEX_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# qemu-user's emulator; the static build of qemu-user-static serves as well.
find_program(TRAWLEX_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(TRAWLEX_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TRAWLEX_QEMU_AARCH64})
endif()

set(TRAWLEX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources, built for the target")
