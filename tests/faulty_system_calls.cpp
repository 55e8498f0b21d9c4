#include "faulty_system_calls.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "system_calls.h"

namespace kerfline::testing {

namespace {

// The one piece of mutable global state: the seam is a set of free
// functions, so the test can reach them only through here.
struct World {
    bool recording = false;
    bool console_is_terminal = false;
    std::optional<Fault> fault;
    std::size_t counts[std::size(every_system_call)] = {};
    Recording recording_so_far;
};

World world;

// Records the call; true when it is the one that must fail.
bool must_fail(CallRecord record) {
    if (!world.recording) return false;
    const auto kind = static_cast<std::size_t>(record.kind);
    const std::size_t index = world.counts[kind]++;
    record.failed = world.fault && world.fault->call == record.kind && world.fault->index == index;
    world.recording_so_far.calls.push_back(record);
    if (record.failed) errno = world.fault->misbehaviour.error;
    return record.failed;
}

std::size_t bytes_taken(std::size_t count) {
    switch (world.fault->misbehaviour.kind) {
        case Misbehaviour::Kind::take_half: return (count + 1) / 2;
        case Misbehaviour::Kind::take_nothing: return 0;
        case Misbehaviour::Kind::fail: break;
    }
    return count;
}

}  // namespace

const char* name_of(SystemCall call) {
    constexpr const char* names[] = {"open", "read", "write", "close", "fstat", "ftruncate"};
    return names[static_cast<std::size_t>(call)];
}

void start_recording(bool console_is_terminal, std::optional<Fault> fault) {
    world = World{};
    world.recording = true;
    world.console_is_terminal = console_is_terminal;
    world.fault = fault;
}

Recording stop_recording() {
    Recording done = std::move(world.recording_so_far);
    world = World{};
    return done;
}

}  // namespace kerfline::testing

namespace kerfline::sys {

using testing::CallRecord;
using testing::SystemCall;
using testing::must_fail;
using testing::world;

int open(const char* path, int flags) {
    if (must_fail({SystemCall::open, -1, path})) return -1;
    const int fd = ::open(path, flags, 0666);
    if (world.recording) {
        world.recording_so_far.calls.back().fd = fd;
        if (fd >= 0) world.recording_so_far.left_open.insert(fd);
    }
    return fd;
}

ssize_t read(int fd, void* into, std::size_t capacity) {
    if (must_fail({SystemCall::read, fd})) return -1;
    return ::read(fd, into, capacity);
}

ssize_t write(int fd, const void* bytes, std::size_t count) {
    if (must_fail({SystemCall::write, fd, {}, count})) {
        if (world.fault->misbehaviour.kind == testing::Misbehaviour::Kind::fail) return -1;
        count = testing::bytes_taken(count);
        if (count == 0) return 0;
    }
    if (world.recording && (fd == STDOUT_FILENO || fd == STDERR_FILENO)) {
        testing::Recording& so_far = world.recording_so_far;
        if (fd == STDERR_FILENO && so_far.errors.empty()) {
            so_far.console_before_errors = so_far.console.size();
        }
        auto& stream = fd == STDOUT_FILENO ? so_far.console : so_far.errors;
        stream.append(static_cast<const char*>(bytes), count);
        return static_cast<ssize_t>(count);
    }
    return ::write(fd, bytes, count);
}

int close(int fd) {
    const bool fail = must_fail({SystemCall::close, fd});
    const int result = ::close(fd);
    if (world.recording && result == 0) world.recording_so_far.left_open.erase(fd);
    return fail ? -1 : result;
}

// Only reached with a standard stream closed, which no recorded run has.
int duplicate_above(int fd, int lowest) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, lowest);
    if (world.recording && copy >= 0) world.recording_so_far.left_open.insert(copy);
    return copy;
}

int fstat(int fd, struct stat* status) {
    // The console is a terminal or a pipe, whatever the test runner's is.
    if (world.recording && (fd == STDOUT_FILENO || fd == STDERR_FILENO)) {
        *status = {};
        status->st_mode = world.console_is_terminal ? S_IFCHR : S_IFIFO;
        return 0;
    }
    if (must_fail({SystemCall::fstat, fd})) return -1;
    return ::fstat(fd, status);
}

// Only reached for outputs that are no regular file, which no recorded run
// has.
int make_blocking(int fd) { return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

int ftruncate(int fd, off_t length) {
    if (must_fail({SystemCall::ftruncate, fd})) return -1;
    return ::ftruncate(fd, length);
}

// Only reached when an open that created its file fails after all: a
// fault the walk plants, never a call it makes fail.
int unlink(const char* path) { return ::unlink(path); }

// Standard error is captured, never a terminal, whatever the runner's is.
int isatty(int fd) {
    if (world.recording && fd == STDOUT_FILENO) return world.console_is_terminal ? 1 : 0;
    if (world.recording && fd == STDERR_FILENO) return 0;
    return ::isatty(fd);
}

}  // namespace kerfline::sys
