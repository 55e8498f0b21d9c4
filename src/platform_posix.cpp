// POSIX side of the platform layer: files.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform_posix.h"
#include "system_calls.h"

namespace kerfline {

FileId posix::id_of(const struct stat& status) {
    constexpr std::int64_t ns_per_second = 1000 * 1000 * 1000;
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
            static_cast<std::uint64_t>(status.st_size),
            std::int64_t{status.st_mtim.tv_sec} * ns_per_second + status.st_mtim.tv_nsec};
}

namespace {

using posix::id_of;

int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }

// A name with a NUL byte cannot reach the kernel whole, so it names no file.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

int open_retried(const char* path, int flags) {
    int fd;
    do {
        fd = sys::open(path, flags | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens `path` for writing, creating it when it is missing, and tells
// whether this open created it: first as a new file, then as an existing
// one, so that one call serves either in the common case.
int open_or_create(const char* path, int flags, bool& created) {
    created = false;
    int fd = open_retried(path, flags | O_CREAT | O_EXCL);
    if (fd >= 0 || errno != EEXIST) {
        created = fd >= 0;
        return fd;
    }
    fd = open_retried(path, flags);
    // Gone since, or a symbolic link to a missing file, which O_EXCL will
    // not follow: created as any program creates it, by whom unknown.
    if (fd < 0 && errno == ENOENT) fd = open_retried(path, flags | O_CREAT);
    return fd;
}

// Opens `path` and tells what it is, or why it cannot be opened: the
// descriptor, or -1 and `error`. A name with a NUL byte and a directory
// are refused. With `created` it creates a missing file, and takes it back
// when the open fails after all.
int open_identified(std::string_view path, int flags, struct stat& status, FileError& error,
                    bool* created = nullptr) {
    if (has_nul(path)) {
        error = {FileError::Kind::nul_in_name};
        return -1;
    }
    bool made = false;
    // `path` is followed by a NUL, so the kernel takes it as it is.
    int fd = created != nullptr ? open_or_create(path.data(), flags, made)
                                : open_retried(path.data(), flags);
    if (fd >= 0 && sys::fstat(fd, &status) != 0) {
        const int failure = errno;
        sys::close(fd);
        errno = failure;
        fd = -1;
    }
    // A standard stream closed at the start names no file, as it did not
    // before its number was held.
    if (fd >= 0 && posix::holds_closed_stream(status)) {
        sys::close(fd);
        errno = ENOENT;
        fd = -1;
    }
    if (fd < 0) {
        const int failure = errno;
        if (made) sys::unlink(path.data());
        error = FileError::system(static_cast<std::uint32_t>(failure));
        return -1;
    }
    if (S_ISDIR(status.st_mode)) {
        sys::close(fd);
        error = {FileError::Kind::directory};
        return -1;
    }
    if (created != nullptr) *created = made;
    return fd;
}

}  // namespace

std::string_view describe_system_error(std::uint32_t code, char (&)[512]) {
    return std::strerror(static_cast<int>(code));
}

bool File::fail_with_system_error() {
    error_ = FileError::system(static_cast<std::uint32_t>(errno));
    return false;
}

bool File::give_up(FileError why) {
    close();
    error_ = why;
    return false;
}

ReadResult File::read(char* into, std::size_t capacity) {
    for (;;) {
        const ssize_t n = sys::read(fd_of(handle_), into, capacity);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            fail_with_system_error();
            return {0, true};
        }
        read_ += static_cast<std::uint64_t>(n);
        // A short read of a file on disk is its end as it now stands: one
        // before what was read means the file was cut under the run (a
        // file of /proc, whose size is 0, never grew so far as to shrink).
        struct stat status;
        if (on_disk_ && static_cast<std::size_t>(n) < capacity &&
            sys::fstat(fd_of(handle_), &status) == 0) {
            const auto size = static_cast<std::uint64_t>(status.st_size);
            if (size < read_ && size < largest_size_) {
                error_ = {FileError::Kind::shrank};
                return {0, true};
            }
            largest_size_ = std::max(largest_size_, size);
        }
        return {static_cast<std::size_t>(n), false};
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
    struct stat status;
    const int fd = open_identified(path, O_RDONLY, status, file.error_);
    if (fd < 0) return false;
    file = File(fd, id_of(status), S_ISREG(status.st_mode), false);
    return true;
}

// Without waiting, only a FIFO without a reader (ENXIO) or a file whose
// lease must be broken (EWOULDBLOCK) fails to open.
bool File::open_for_writing(std::string_view path, bool may_wait, File& file) {
    file = File();
    struct stat status;
    bool created = false;
    const int flags = may_wait ? O_WRONLY : O_WRONLY | O_NONBLOCK;
    const int fd = open_identified(path, flags, status, file.error_, &created);
    if (fd < 0) {
        const std::uint32_t code = file.error_.system_code;
        if (!may_wait && file.error_.kind == FileError::Kind::system &&
            (code == ENXIO || code == EWOULDBLOCK)) {
            file.error_.kind = FileError::Kind::would_wait;
        }
        return false;
    }
    // A pipe or a device written without waiting would fail when full.
    if (!may_wait && !S_ISREG(status.st_mode)) {
        const int status_flags = sys::status_flags(fd);
        if (status_flags < 0 || sys::set_status_flags(fd, status_flags & ~O_NONBLOCK) != 0) {
            file.error_ = FileError::system(static_cast<std::uint32_t>(errno));
            sys::close(fd);
            return false;
        }
    }
    file = File(fd, id_of(status), S_ISREG(status.st_mode), created);
    return true;
}

void File::discard(std::string_view path) {
    const bool take_back = created_;
    close();
    if (take_back) sys::unlink(path.data());
}

LookUp look_up(std::string_view path, bool foresee) {
    LookUp look;
    if (has_nul(path)) {
        look.error = FileError{FileError::Kind::nul_in_name};
        return look;
    }
    const auto fail = [&](int error) {
        look.error = FileError::system(static_cast<std::uint32_t>(error));
        return look;
    };
    // `path` is followed by a NUL, so the kernel takes it as it is.
    struct stat status;
    if (sys::stat(path.data(), &status) == 0) {
        if (posix::holds_closed_stream(status)) return fail(ENOENT);
        look.id = id_of(status);
        using enum LookUp::Kind;
        const mode_t type = status.st_mode & S_IFMT;
        look.kind = type == S_IFREG ? file : type == S_IFDIR ? directory : type == S_IFCHR ? character_device
                  : type == S_IFBLK ? block_device : type == S_IFIFO ? fifo : type == S_IFSOCK ? socket : other;
        if (look.kind == directory) {
            look.error = FileError{FileError::Kind::directory};
        } else if (foresee && sys::access(path.data(), W_OK) != 0) {
            return fail(errno);
        }
        return look;
    }
    if (errno != ENOENT) return fail(errno);
    if (!foresee) return look;
    // Missing: made in its folder, which must be there and writable.
    try {
        std::string folder, file;
        if (!posix::made_at(std::string(path), folder, file)) return fail(ENOENT);
        if (sys::access(folder.c_str(), W_OK | X_OK) != 0) return fail(errno);
    } catch (const std::bad_alloc&) {
        return fail(ENOMEM);
    }
    return look;
}

bool File::truncate() {
    if (!holds_bytes_ || sys::ftruncate(fd_of(handle_), 0) == 0) return true;
    return give_up(FileError::system(static_cast<std::uint32_t>(errno)));
}

}  // namespace kerfline
