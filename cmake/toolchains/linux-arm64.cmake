# Cross-builds the 64-bit Arm Linux program with Debian's
# g++-aarch64-linux-gnu; qemu-aarch64 runs it.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(linux_triple aarch64-linux-gnu)
set(qemu_name qemu-aarch64)
include("${CMAKE_CURRENT_LIST_DIR}/linux-common.cmake")
