#include "memory_system_calls.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "system_calls.h"

namespace kerfline::fuzzing {

namespace {

struct OpenFile {
    std::string name;
    std::size_t offset = 0;
};

// The fuzzer's world, reset before each run.
struct Memory {
    std::map<std::string, std::string> files;
    std::map<std::string, ino_t> inodes;  // fixed when a file is made
    std::map<int, OpenFile> open;
    std::string console;
    std::size_t read_limit = 0;
    int next_fd = 3;
};

Memory memory;

void make_file(const std::string& name, std::string bytes) {
    const auto inode = static_cast<ino_t>(memory.inodes.size() + 1);
    memory.inodes[name] = inode;
    memory.files[name] = std::move(bytes);
}

// A failed call, as the kernel reports it.
int failure(int error) {
    errno = error;
    return -1;
}

OpenFile* open_file(int fd) {
    const auto found = memory.open.find(fd);
    if (found != memory.open.end()) return &found->second;
    failure(EBADF);
    return nullptr;
}

}  // namespace

void reset_memory_files(std::map<std::string, std::string> files, std::size_t read_limit) {
    memory = Memory{};
    for (auto& [name, bytes] : files) make_file(name, std::move(bytes));
    memory.read_limit = read_limit;
}

const std::map<std::string, std::string>& memory_files() { return memory.files; }
const std::string& memory_console() { return memory.console; }
std::size_t memory_open_count() { return memory.open.size(); }

}  // namespace kerfline::fuzzing

namespace kerfline::sys {

using fuzzing::failure;
using fuzzing::make_file;
using fuzzing::memory;
using fuzzing::open_file;
using fuzzing::OpenFile;

int open(const char* path, int flags) {
    if (*path == '\0') return failure(ENOENT);  // as the kernel has it
    if (memory.files.count(path) == 0) {
        if ((flags & O_CREAT) == 0) return failure(ENOENT);
        make_file(path, {});
    } else if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
        return failure(EEXIST);
    }
    const int fd = memory.next_fd++;
    memory.open[fd] = {path, 0};
    return fd;
}

ssize_t read(int fd, void* into, std::size_t capacity) {
    OpenFile* file = open_file(fd);
    if (file == nullptr) return -1;
    const std::string& bytes = memory.files[file->name];
    const std::size_t count =
        std::min({capacity, memory.read_limit, bytes.size() - std::min(file->offset, bytes.size())});
    std::memcpy(into, bytes.data() + file->offset, count);
    file->offset += count;
    return static_cast<ssize_t>(count);
}

ssize_t write(int fd, const void* bytes, std::size_t count) {
    if (fd == STDOUT_FILENO) {
        memory.console.append(static_cast<const char*>(bytes), count);
        return static_cast<ssize_t>(count);
    }
    OpenFile* file = open_file(fd);
    if (file == nullptr) return -1;
    std::string& contents = memory.files[file->name];
    if (contents.size() < file->offset + count) contents.resize(file->offset + count);
    std::memcpy(contents.data() + file->offset, bytes, count);
    file->offset += count;
    return static_cast<ssize_t>(count);
}

int close(int fd) {
    if (open_file(fd) == nullptr) return -1;
    memory.open.erase(fd);
    return 0;
}

int fstat(int fd, struct stat* status) {
    OpenFile* file = open_file(fd);
    if (file == nullptr) return -1;
    *status = {};
    status->st_mode = S_IFREG | 0666;
    status->st_dev = 1;
    status->st_ino = memory.inodes[file->name];
    status->st_size = static_cast<off_t>(memory.files[file->name].size());
    return 0;
}

// Every file here is a regular one, whose flags are never asked for, and
// standard output is one too, which a stop leaves alone.
int status_flags(int) { return O_WRONLY; }
int set_status_flags(int, int) { return 0; }

int ftruncate(int fd, off_t length) {
    OpenFile* file = open_file(fd);
    if (file == nullptr) return -1;
    memory.files[file->name].resize(static_cast<std::size_t>(length));
    return 0;
}

int unlink(const char* path) {
    memory.files.erase(path);
    memory.inodes.erase(path);
    return 0;
}

int isatty(int) { return 0; }

int stat(const char* path, struct stat* status) {
    if (*path == '\0' || memory.files.count(path) == 0) return failure(ENOENT);
    *status = {};
    status->st_mode = S_IFREG | 0666;
    status->st_dev = 1;
    status->st_ino = memory.inodes[path];
    status->st_size = static_cast<off_t>(memory.files[path].size());
    return 0;
}

// Every name here may be written, and none is a link.
int access(const char*, int) { return 0; }
ssize_t readlink(const char*, char*, std::size_t) { return failure(EINVAL); }

// No stop comes to a fuzzed run.
void end_by_signal(int) { std::abort(); }

}  // namespace kerfline::sys
