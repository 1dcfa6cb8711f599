# Cross-build for Windows with Debian's MinGW-w64 compilers; the toolchain
# files for each architecture set mingw_arch and include this one. The
# win32 thread model: the tool starts no thread on Windows, and the POSIX
# one links in a runtime that needs functions Windows 2000 and XP lack.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${mingw_arch})

set(CMAKE_C_COMPILER ${mingw_arch}-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER ${mingw_arch}-w64-mingw32-g++-win32)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_arch}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
