#include "faulty_system_calls.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
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
    void (*stop)(int) = nullptr;
    std::size_t counts[std::size(every_system_call)] = {};
    Recording recording_so_far;
    int console_flags = O_WRONLY;
    int stopped_run_pipe = -1;  // where a stopped child tells what it left
    bool stop_after_call = false;
};

World world;

// Records the call; true when it is the one that must fail. One that a stop
// follows is made, then the stop comes.
bool must_fail(CallRecord record) {
    if (!world.recording) return false;
    const auto kind = static_cast<std::size_t>(record.kind);
    const std::size_t index = world.counts[kind]++;
    record.failed = world.fault && world.fault->call == record.kind && world.fault->index == index;
    world.recording_so_far.calls.push_back(record);
    if (record.failed && world.fault->misbehaviour.kind == Misbehaviour::Kind::stop) {
        record.failed = false;
        world.recording_so_far.calls.back().failed = false;
        world.fault.reset();
        world.stop_after_call = true;
    }
    if (record.failed) errno = world.fault->misbehaviour.error;
    return record.failed;
}

// After a call: the stop that follows it, if one does, as a signal comes
// between two calls.
template <typename Result>
Result then_stop(Result result) {
    if (world.stop_after_call) {
        world.stop_after_call = false;
        const int saved = errno;
        world.stop(SIGTERM);
        errno = saved;
    }
    return result;
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

void start_recording(bool console_is_terminal, std::optional<Fault> fault, void (*stop)(int)) {
    world = World{};
    world.recording = true;
    world.console_is_terminal = console_is_terminal;
    world.fault = fault;
    world.stop = stop;
}

namespace {

void send(int fd, const std::string& bytes) {
    const std::size_t size = bytes.size();
    ::write(fd, &size, sizeof size);
    ::write(fd, bytes.data(), size);
}

std::string receive(int fd) {
    std::size_t size = 0;
    std::string bytes;
    if (::read(fd, &size, sizeof size) != sizeof size) return bytes;
    bytes.resize(size);
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = ::read(fd, bytes.data() + got, size - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return bytes;
}

}  // namespace

StoppedRun run_until_stopped(bool console_is_terminal, const Fault& fault, void (*stop)(int),
                             const std::function<int()>& run) {
    int channel[2];
    if (::pipe(channel) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        start_recording(console_is_terminal, fault, stop);
        world.stopped_run_pipe = channel[1];
        run();
        ::_exit(0);  // not stopped
    }
    ::close(channel[1]);
    StoppedRun result;
    result.console = receive(channel[0]);
    result.errors = receive(channel[0]);
    const std::string flags_kept = receive(channel[0]);
    result.stopped = !flags_kept.empty();
    result.console_flags_kept = flags_kept == "kept";
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
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
    return testing::then_stop(fd);
}

ssize_t read(int fd, void* into, std::size_t capacity) {
    if (must_fail({SystemCall::read, fd})) return -1;
    return testing::then_stop(::read(fd, into, capacity));
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
        return testing::then_stop(static_cast<ssize_t>(count));
    }
    return testing::then_stop(::write(fd, bytes, count));
}

int close(int fd) {
    const bool fail = must_fail({SystemCall::close, fd});
    const int result = ::close(fd);
    if (world.recording && result == 0) world.recording_so_far.left_open.erase(fd);
    return testing::then_stop(fail ? -1 : result);
}

int fstat(int fd, struct stat* status) {
    // The console is a terminal or a pipe, whatever the test runner's is.
    if (world.recording && (fd == STDOUT_FILENO || fd == STDERR_FILENO)) {
        *status = {};
        status->st_mode = world.console_is_terminal ? S_IFCHR : S_IFIFO;
        return 0;
    }
    if (must_fail({SystemCall::fstat, fd})) return -1;
    return testing::then_stop(::fstat(fd, status));
}

// Standard output's are the recording's own.
int status_flags(int fd) {
    return world.recording && fd == STDOUT_FILENO ? world.console_flags : ::fcntl(fd, F_GETFL);
}

int set_status_flags(int fd, int flags) {
    if (!world.recording || fd != STDOUT_FILENO) return ::fcntl(fd, F_SETFL, flags);
    world.console_flags = flags;
    return 0;
}

int ftruncate(int fd, off_t length) {
    if (must_fail({SystemCall::ftruncate, fd})) return -1;
    return testing::then_stop(::ftruncate(fd, length));
}

// Only reached when an open that created its file fails after all: a
// fault the walk plants, never a call it makes fail.
int unlink(const char* path) { return ::unlink(path); }

// Looks at names, which change nothing: made, not counted.
int stat(const char* path, struct stat* status) { return ::stat(path, status); }
int access(const char* path, int mode) { return ::access(path, mode); }
ssize_t readlink(const char* path, char* into, std::size_t capacity) {
    return ::readlink(path, into, capacity);
}

// Standard error is captured, never a terminal, whatever the runner's is.
int isatty(int fd) {
    if (world.recording && fd == STDOUT_FILENO) return world.console_is_terminal ? 1 : 0;
    if (world.recording && fd == STDERR_FILENO) return 0;
    return ::isatty(fd);
}

// A stopped run's child tells what it left, and ends.
void end_by_signal(int) {
    const int channel = world.stopped_run_pipe;
    if (channel < 0) std::abort();
    testing::send(channel, world.recording_so_far.console);
    testing::send(channel, world.recording_so_far.errors);
    testing::send(channel, world.console_flags == O_WRONLY ? "kept" : "changed");
    ::_exit(0);
}

}  // namespace kerfline::sys
