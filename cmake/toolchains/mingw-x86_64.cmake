# Cross-builds the x86-64 Windows console program with Debian's
# g++-mingw-w64-x86-64. The win32 thread model keeps winpthread out of the
# static executable; kerfline starts no threads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(mingw_triple x86_64-w64-mingw32)
set(mingw_package g++-mingw-w64-x86-64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
