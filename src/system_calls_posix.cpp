#include "system_calls.h"

#include <fcntl.h>
#include <unistd.h>

namespace kerfline::sys {

int open(const char* path, int flags) { return ::open(path, flags, 0666); }
ssize_t read(int fd, void* into, std::size_t capacity) { return ::read(fd, into, capacity); }
ssize_t write(int fd, const void* bytes, std::size_t count) { return ::write(fd, bytes, count); }
int close(int fd) { return ::close(fd); }
int duplicate_above(int fd, int lowest) { return ::fcntl(fd, F_DUPFD_CLOEXEC, lowest); }
int fstat(int fd, struct stat* status) { return ::fstat(fd, status); }
int make_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags < 0 ? -1 : ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}
int ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int unlink(const char* path) { return ::unlink(path); }
int isatty(int fd) { return ::isatty(fd); }

}  // namespace kerfline::sys
