// POSIX side of the platform layer.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
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

// A standard stream that was closed before the start stays closed: a file
// given its number would take the report, or be what /dev/stdin names.
int away_from_standard_streams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = sys::duplicate_above(fd, STDERR_FILENO + 1);
    const int error = errno;
    sys::close(fd);
    errno = error;
    return moved;
}

int open_fd(std::string_view path, int flags) {
    const std::string name(path);
    int fd;
    do {
        fd = sys::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return away_from_standard_streams(fd);
}

void write_stream(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = sys::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

}  // namespace

std::string describe_system_error(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

bool File::fail_with_system_error() {
    error_ = {static_cast<std::uint32_t>(errno)};
    return false;
}

ReadResult File::read(char* into, std::size_t capacity) {
    for (;;) {
        const ssize_t n = sys::read(fd_of(handle_), into, capacity);
        if (n >= 0) return {static_cast<std::size_t>(n), false};
        if (errno != EINTR) {
            fail_with_system_error();
            return {0, true};
        }
    }
}

bool File::write(const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = sys::write(fd_of(handle_), bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail_with_system_error();
        // A write that takes nothing would take nothing again: as a full disk.
        if (n == 0) {
            errno = ENOSPC;
            return fail_with_system_error();
        }
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
    return sys::close(fd) == 0 || errno == EINTR || fail_with_system_error();
}

bool File::open_for_reading(std::string_view path, File& file) {
    file = File();
    if (has_nul(path)) return file.refuse(FileError::Refusal::nul_in_name);
    const int fd = open_fd(path, O_RDONLY);
    if (fd < 0) return file.fail_with_system_error();
    File opened(fd, FileId{});
    struct stat status;
    if (sys::fstat(fd, &status) != 0) return file.fail_with_system_error();
    if (S_ISDIR(status.st_mode)) return file.refuse(FileError::Refusal::directory);
    opened.id_ = id_of(status);
    file = std::move(opened);
    return true;
}

bool File::open_for_writing(std::string_view path, std::span<const FileId> guarded,
                            File& file) {
    file = File();
    if (has_nul(path)) return file.refuse(FileError::Refusal::nul_in_name);
    // No O_TRUNC: the file must be known not to be guarded before it loses
    // a byte.
    const int fd = open_fd(path, O_WRONLY | O_CREAT);
    if (fd < 0) return file.fail_with_system_error();
    File opened(fd, FileId{});
    struct stat status;
    if (sys::fstat(fd, &status) != 0) return file.fail_with_system_error();
    opened.id_ = id_of(status);
    for (std::size_t index = 0; index < guarded.size(); ++index) {
        if (guarded[index] == opened.id_) return file.refuse(FileError::Refusal::guarded, index);
    }
    // Devices and pipes have nothing to truncate, and a new file neither.
    if (S_ISREG(status.st_mode) && status.st_size != 0 && sys::ftruncate(fd, 0) != 0) {
        return file.fail_with_system_error();
    }
    file = std::move(opened);
    return true;
}

void prepare_process() {
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails with EFBIG, reported like any
    // failed write, instead of ending the process without a word.
    std::signal(SIGXFSZ, SIG_IGN);
}

void write_console(const char* bytes, std::size_t count) {
    write_stream(STDOUT_FILENO, bytes, count);
}

void write_error_stream(const char* bytes, std::size_t count) {
    write_stream(STDERR_FILENO, bytes, count);
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
