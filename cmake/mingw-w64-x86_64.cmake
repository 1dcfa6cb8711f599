# Cross-build for 64-bit Windows (Debian package g++-mingw-w64-x86-64-win32).
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
