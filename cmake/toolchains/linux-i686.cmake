# Cross-builds the 32-bit x86 Linux program with Debian's g++-i686-linux-gnu;
# qemu-i386 runs it.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(linux_triple i686-linux-gnu)
set(qemu_name qemu-i386)
include("${CMAKE_CURRENT_LIST_DIR}/linux-common.cmake")
