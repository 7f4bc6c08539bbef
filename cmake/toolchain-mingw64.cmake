# Cross-building the Windows program on Debian with g++-mingw-w64-x86-64:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
# The result is one static trawlex.exe: no runtime DLLs to ship with it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRAWLEX_MINGW_PREFIX x86_64-w64-mingw32)
# Either thread model serves; the program has one thread.
find_program(CMAKE_CXX_COMPILER NAMES ${TRAWLEX_MINGW_PREFIX}-g++-posix ${TRAWLEX_MINGW_PREFIX}-g++-win32 ${TRAWLEX_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TRAWLEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRAWLEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests start Linux processes and are built by the Linux build only.
set(TRAWLEX_TESTS OFF CACHE BOOL "Build the test suite" FORCE)
