// A stand-in for src/system_calls_posix.cpp, linked into tests instead of
// it: every call the tool makes is recorded, standard output is captured
// rather than written, and one chosen call can be made to fail.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kerfline::testing {

enum class SystemCall { open, read, write, close, fstat, ftruncate };

inline constexpr SystemCall every_system_call[] = {SystemCall::open,  SystemCall::read,
                                                   SystemCall::write, SystemCall::close,
                                                   SystemCall::fstat, SystemCall::ftruncate};

const char* name_of(SystemCall call);

struct CallRecord {
    SystemCall kind;
    int fd = -1;            // the descriptor used, or the one open returned
    std::string path;       // open only
    std::size_t count = 0;  // write only: bytes asked to be written
    bool failed = false;    // made to fail
};

// What the chosen call does instead of its work: fail as the kernel would
// fail it (nothing read, written, opened or truncated; a failed close still
// releases its descriptor), or, a write, take only half its bytes, or none;
// or it does its work and then a stop comes from outside (SIGTERM).
struct Misbehaviour {
    enum class Kind { fail, take_half, take_nothing, stop };
    int error = 0;  // when it fails
    Kind kind = Kind::fail;
};

// Calls of `call` are counted from 0; the one numbered `index` misbehaves.
struct Fault {
    SystemCall call;
    std::size_t index;
    Misbehaviour misbehaviour;
};

struct Recording {
    std::vector<CallRecord> calls;
    std::string console;       // what reached standard output
    std::string errors;        // what reached standard error
    std::size_t console_before_errors = 0;  // the console's size when they began
    std::set<int> left_open;   // descriptors the tool opened and did not close
};

// From now on every call is recorded; standard output counts as a terminal
// when `console_is_terminal`. A stop goes to `stop`, as a signal would.
void start_recording(bool console_is_terminal, std::optional<Fault> fault = std::nullopt,
                     void (*stop)(int) = nullptr);
Recording stop_recording();

// A run that a stop ends: what it left when the process ended, its console
// and reasons so far, and whether standard output's flags were left as they
// were. Run in a child process, which the stop ends.
struct StoppedRun {
    bool stopped = false;  // by the stop, not at the run's end
    std::string console;
    std::string errors;
    bool console_flags_kept = false;
};
StoppedRun run_until_stopped(bool console_is_terminal, const Fault& fault, void (*stop)(int),
                             const std::function<int()>& run);

}  // namespace kerfline::testing
