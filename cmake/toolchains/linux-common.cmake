# Shared by the Linux cross toolchain files, which set linux_triple and
# qemu_name first. Debian's cross compilers (g++-TRIPLE) keep the target's C
# and C++ libraries in /usr/TRIPLE.
set(CMAKE_SYSTEM_NAME Linux)
find_program(CMAKE_CXX_COMPILER NAMES ${linux_triple}-g++)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${linux_triple}-g++ was not found: this build needs Debian's "
    "g++-${linux_triple} (apt-get install g++-${linux_triple})")
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${linux_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked: qemu-user then runs the programs as they are, without
# -L and its lookup of every absolute path in the target's library folder
# first, and the tool is one file that runs on any Linux of its processor.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# CTest runs the unit tests built here under qemu-user, when it is installed.
find_program(KERFLINE_QEMU NAMES ${qemu_name})
if(KERFLINE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KERFLINE_QEMU})
else()
  message(WARNING "${qemu_name} was not found: this build's tests need Debian's qemu-user "
    "(apt-get install qemu-user)")
endif()
