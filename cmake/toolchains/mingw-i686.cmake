# Cross-builds the 32-bit x86 Windows console program with Debian's
# g++-mingw-w64-i686. The win32 thread model keeps winpthread out of the
# static executable; kerfline starts no threads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(mingw_triple i686-w64-mingw32)
set(mingw_package g++-mingw-w64-i686)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
