# Cross-builds the big-endian 64-bit IBM Z Linux program with Debian's
# g++-s390x-linux-gnu; qemu-s390x runs it.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(linux_triple s390x-linux-gnu)
set(qemu_name qemu-s390x)
include("${CMAKE_CURRENT_LIST_DIR}/linux-common.cmake")
