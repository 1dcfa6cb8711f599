# Cross-build for 32-bit Windows (Debian package g++-mingw-w64-i686-win32).
set(mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
