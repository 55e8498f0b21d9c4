// The system calls the POSIX platform layer makes, each behind a function of
// its own. The tool links system_calls_posix.cpp, which hands them straight
// to the kernel; tests link a copy that records them and fails on demand, so
// every failure point can be reached without touching the platform layer.
#pragma once

#include <cstddef>
#include <sys/stat.h>
#include <sys/types.h>

// The build sets _FILE_OFFSET_BITS=64: a 32-bit build would otherwise
// refuse files past 2 GiB, and a copy of these calls compiled without it
// would disagree with the platform layer on off_t and struct stat.
static_assert(sizeof(off_t) == 8, "64-bit file offsets are needed: define _FILE_OFFSET_BITS=64");

namespace kerfline::sys {

// Opens with mode 0666 when the file is created.
int open(const char* path, int flags);
ssize_t read(int fd, void* into, std::size_t capacity);
ssize_t write(int fd, const void* bytes, std::size_t count);
int close(int fd);
int fstat(int fd, struct stat* status);
// fcntl(F_GETFL) and fcntl(F_SETFL): the descriptor's status flags.
int status_flags(int fd);
int set_status_flags(int fd, int flags);
int ftruncate(int fd, off_t length);
int unlink(const char* path);
int stat(const char* path, struct stat* status);
// access(): whether the process may use `path` so (W_OK, X_OK).
int access(const char* path, int mode);
ssize_t readlink(const char* path, char* into, std::size_t capacity);
int isatty(int fd);
// Ends the process by `signal_number`, which it does not catch.
[[noreturn]] void end_by_signal(int signal_number);

}  // namespace kerfline::sys
