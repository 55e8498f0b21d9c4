# Shared by the MinGW-w64 toolchain files, which set mingw_triple and
# mingw_package first.
find_program(CMAKE_CXX_COMPILER NAMES ${mingw_triple}-g++-win32 ${mingw_triple}-g++)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${mingw_triple}-g++ was not found: this build needs Debian's "
    "${mingw_package} (apt-get install ${mingw_package})")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
