# Cross-compiles vbconv.exe for 64-bit Windows with Debian's MinGW-w64:
#
#   sudo apt-get install g++-mingw-w64-x86-64-win32
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake && cmake --build build-win -j2
#
# The compiler of the win32 thread model: vbconv starts no threads, and this
# model's runtime needs no winpthread library, so the static program imports
# only DLLs that every Windows has (KERNEL32 and msvcrt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VBCONV_MINGW x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${VBCONV_MINGW}-g++-win32)
set(CMAKE_RC_COMPILER ${VBCONV_MINGW}-windres)

# Headers and libraries come from the cross toolchain's root only; programs
# run during the build (groff) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${VBCONV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
