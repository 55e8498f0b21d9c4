#include "system_calls.h"

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace kerfline::sys {

int open(const char* path, int flags) { return ::open(path, flags, 0666); }
ssize_t read(int fd, void* into, std::size_t capacity) { return ::read(fd, into, capacity); }
ssize_t write(int fd, const void* bytes, std::size_t count) { return ::write(fd, bytes, count); }
int close(int fd) { return ::close(fd); }
int fstat(int fd, struct stat* status) { return ::fstat(fd, status); }
int status_flags(int fd) { return ::fcntl(fd, F_GETFL); }
int set_status_flags(int fd, int flags) { return ::fcntl(fd, F_SETFL, flags); }
int ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int unlink(const char* path) { return ::unlink(path); }
int stat(const char* path, struct stat* status) { return ::stat(path, status); }
int access(const char* path, int mode) { return ::access(path, mode); }
ssize_t readlink(const char* path, char* into, std::size_t capacity) {
    return ::readlink(path, into, capacity);
}
int isatty(int fd) { return ::isatty(fd); }

void end_by_signal(int signal_number) {
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
    // Blocked while its own handler runs: let it in, and it ends the process.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, signal_number);
    ::sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    ::_exit(128 + signal_number);
}

}  // namespace kerfline::sys
