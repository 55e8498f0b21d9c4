// POSIX side of the platform layer.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"
#include "report.h"
#include "system_calls.h"

namespace kerfline {

namespace {

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

FileId id_of(const struct stat& status) {
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// A name with a NUL byte cannot reach the kernel whole, so it names no file.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

int open_fd(std::string_view path, int flags) {
    const std::string name(path);
    int fd;
    do {
        fd = sys::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

ReadResult File::read(char* into, std::size_t capacity) {
    for (;;) {
        const ssize_t n = sys::read(fd_of(handle_), into, capacity);
        if (n >= 0) return {static_cast<std::size_t>(n), false};
        if (errno != EINTR) return {0, true};
    }
}

bool File::write(const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = sys::write(fd_of(handle_), bytes, count);
        if (n < 0 && errno == EINTR) continue;
        // A write that takes nothing would take nothing again: as a full disk.
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool File::close() {
    if (!is_open()) return true;
    const int fd = fd_of(handle_);
    handle_ = closed_handle;
    // After EINTR the descriptor is already released on Linux; retrying
    // could close a stranger's file.
    return sys::close(fd) == 0 || errno == EINTR;
}

bool File::open_for_reading(std::string_view path, File& file) {
    if (has_nul(path)) return false;
    const int fd = open_fd(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat status;
    if (sys::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        sys::close(fd);
        return false;
    }
    file = File(fd, id_of(status));
    return true;
}

bool File::open_for_writing(std::string_view path, std::span<const FileId> guarded,
                            File& file) {
    if (has_nul(path)) return false;
    // No O_TRUNC: the file must be known not to be guarded before it loses
    // a byte.
    const int fd = open_fd(path, O_WRONLY | O_CREAT);
    if (fd < 0) return false;
    File opened(fd, FileId{});
    struct stat status;
    if (sys::fstat(fd, &status) != 0) return false;
    opened.id_ = id_of(status);
    for (const FileId& id : guarded) {
        if (id == opened.id_) return false;
    }
    // Devices and pipes have nothing to truncate, and a new file neither.
    if (S_ISREG(status.st_mode) && status.st_size != 0 && sys::ftruncate(fd, 0) != 0) return false;
    file = std::move(opened);
    return true;
}

void prepare_process() {
    std::signal(SIGPIPE, SIG_IGN);
    // A closed standard stream would hand its number to the next file
    // opened, and the report would be written into that file.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) sys::open("/dev/null", O_RDWR);
    }
}

void write_console(const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = sys::write(STDOUT_FILENO, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

bool console_is_interactive() { return sys::isatty(STDOUT_FILENO) == 1; }

bool console_prefers_utf8() {
    if (!console_is_interactive()) return false;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return locale_names_utf8(value);
    }
    return false;
}

}  // namespace kerfline
