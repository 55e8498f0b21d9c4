// Every failure point of a few realistic runs: the tool runs in-process over
// real files, once cleanly to count its system calls, then once for each
// call made to fail. Each time the run must stop at once with the message
// that names the right file, status 1, and every output it reached holding
// exactly the bytes written before the failure.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>

#include "console.h"
#include "driver.h"
#include "faulty_system_calls.h"
#include "model.h"
#include "scratch_folder.h"

namespace kerfline::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

struct Outcome {
    int status = -1;
    std::string console;
    std::string errors;  // standard error: why the run failed
    Files files;  // by name in the folder
    // The output being written when the input could not be read: it keeps
    // what was read before the failure, so it may run on past `files`' bytes
    // but only with more of its own section.
    std::string keeps_what_was_read;
};

// Files by name, size and digest, so that a failure prints something readable.
std::string summary(const Files& files) {
    std::string text;
    for (const auto& [name, bytes] : files) {
        text += name + ": " + std::to_string(bytes.size()) + " bytes, digest " +
                std::to_string(std::hash<std::string>{}(bytes)) + "\n";
    }
    return text;
}

void expect_files(const Files& actual, const Outcome& expected, const Files& clean) {
    Files comparable = actual;
    const auto kept = comparable.find(expected.keeps_what_was_read);
    if (kept != comparable.end()) {
        const std::string& section = clean.at(kept->first);
        const std::size_t at_least = expected.files.at(kept->first).size();
        EXPECT_GE(kept->second.size(), at_least);
        EXPECT_EQ(kept->second, section.substr(0, kept->second.size()));
        kept->second.resize(std::min(kept->second.size(), at_least));
    }
    EXPECT_EQ(summary(comparable), summary(expected.files));
}

// By SystemCall: how each call is made to misbehave. After any call a stop may come.
constexpr Misbehaviour stop{0, Misbehaviour::Kind::stop};
const std::vector<Misbehaviour> misbehaviours_of[] = {
    {{EACCES}, {EISDIR}, {EINTR}, stop},  // open
    {{EIO}, {EINTR}, stop},               // read
    {{ENOSPC}, {EIO}, {EINTR}, {0, Misbehaviour::Kind::take_half}, {0, Misbehaviour::Kind::take_nothing}, stop},
    {{EIO}, {EINTR}, stop},  // close
    {{EIO}, stop},           // fstat
    {{EIO}, stop}};          // ftruncate

std::string describe(const Misbehaviour& misbehaviour) {
    switch (misbehaviour.kind) {
        case Misbehaviour::Kind::fail: return "fails with errno " + std::to_string(misbehaviour.error);
        case Misbehaviour::Kind::take_half: return "takes half its bytes";
        case Misbehaviour::Kind::take_nothing: return "takes nothing";
        case Misbehaviour::Kind::stop: return "and a stop comes";
    }
    return "";
}

bool is_console_write(const CallRecord& call) { return call.kind == SystemCall::write && call.fd == 1; }

std::size_t position_of(const std::vector<CallRecord>& calls, SystemCall kind, std::size_t index) {
    for (std::size_t at = 0; at < calls.size(); ++at) {
        if (calls[at].kind == kind && index-- == 0) return at;
    }
    return calls.size();
}

// What a terminal showed at the tool's call numbered `other_calls`, console writes not counted.
std::string console_before(const Recording& terminal_calls, std::size_t other_calls) {
    std::string console;
    std::size_t others = 0;
    for (const CallRecord& call : terminal_calls.calls) {
        if (is_console_write(call)) {
            console.append(terminal_calls.console, console.size(), call.count);
        } else if (others++ == other_calls) {
            break;
        }
    }
    return console;
}

// Exactly `bytes` (at least 1) of filler lines, so that a marker after it falls where wanted.
std::string filler(char letter, std::size_t bytes) {
    std::string text;
    while (text.size() < bytes) text += std::string(99, letter) + "\n";
    text.resize(bytes - 1);
    return text + "\n";
}

// Buffers as small as the inputs below: a run of a few kilobytes reads the input in
// several pieces, as the tool reads a large one, and the walk stays quick.
constexpr BufferCapacities small_buffers{1024, 256};

class FaultWalk : public ::testing::Test {
protected:
    ScratchFolder folder;
    const std::string form_path = path("form");
    const std::string input_path = path("input");

    // A terminal console would otherwise follow the locale of whoever runs the tests.
    void SetUp() override { ::setenv("LC_ALL", "C", 1); }

    std::string path(const std::string& name) const { return (folder.path() / name).string(); }
    static std::string name_of_path(const std::string& path) { return fs::path(path).filename(); }

    void remove_outputs() const {
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (entry.path() != form_path && entry.path() != input_path) fs::remove(entry.path());
        }
    }

    BufferCapacities capacities = small_buffers;

    int run_tool() const {
        const char* argv[] = {"kerfline", form_path.c_str(), input_path.c_str()};
        return run_driver({3, argv}, capacities);
    }

    Recording run(bool terminal, std::optional<Fault> fault, Outcome& outcome) {
        remove_outputs();
        start_recording(terminal, fault);
        outcome.status = run_tool();
        Recording recording = stop_recording();
        outcome.console = recording.console;
        outcome.errors = recording.errors;
        outcome.files = folder.files();
        EXPECT_EQ(recording.left_open, std::set<int>{}) << "every file is closed at the end";
        return recording;
    }

    // What the run must come to when `fault` strikes, worked out from the
    // clean run with the same console and the clean run on a terminal, where
    // each message is written before the next call is made.
    Outcome expected_outcome(const Outcome& clean, const Recording& clean_calls,
                             const Recording& terminal_calls, const Fault& fault) const {
        const std::vector<CallRecord>& calls = clean_calls.calls;
        const std::size_t failing = position_of(calls, fault.call, fault.index);
        std::map<int, std::string> open_paths;
        std::map<std::string, std::size_t> written;  // by every output opened so far
        std::size_t console_offset = 0;
        std::size_t other_calls_before = 0;
        for (std::size_t at = 0; at < failing; ++at) {
            const CallRecord& call = calls[at];
            if (is_console_write(call)) {
                console_offset += call.count;
                continue;
            }
            ++other_calls_before;
            if (call.kind == SystemCall::open && call.fd >= 0) {
                open_paths[call.fd] = call.path;
                if (call.path != form_path && call.path != input_path) written.try_emplace(call.path, 0);
            } else if (call.kind == SystemCall::write) {
                written[open_paths.at(call.fd)] += call.count;
            } else if (call.kind == SystemCall::close) {
                open_paths.erase(call.fd);
            }
        }
        const CallRecord& call = calls[failing];
        const std::string file = call.kind == SystemCall::open ? call.path : open_paths[call.fd];
        // An open that fails after all takes back the file it created, as
        // each output here is.
        if (call.kind == SystemCall::fstat) written.erase(file);

        // Failures that must change nothing: an interrupted call is made
        // again, so is a write that took part of its bytes, a file only read
        // has given all it holds before its close, and a file read to its
        // end that cannot be looked at again is taken as it was read.
        const Misbehaviour& misbehaviour = fault.misbehaviour;
        if (misbehaviour.kind == Misbehaviour::Kind::take_half || misbehaviour.error == EINTR) {
            return clean;
        }
        const bool after_open = failing > 0 && calls[failing - 1].kind == SystemCall::open;
        if (call.kind == SystemCall::fstat && !after_open) return clean;
        if (call.kind == SystemCall::close && (file == form_path || file == input_path)) return clean;
        if (is_console_write(call)) {
            Outcome expected = clean;
            expected.console.erase(console_offset, call.count);  // that report is lost, no more
            return expected;
        }

        Outcome expected;
        expected.status = 1;
        expected.console = console_before(terminal_calls, other_calls_before);
        const bool writing = call.kind == SystemCall::write || call.kind == SystemCall::close;
        expected.console += call.kind == SystemCall::read ? cannot_read_text(file)
                            : writing                     ? cannot_write_text(file)
                                                          : cannot_open_text(file);
        // A write that takes nothing would take nothing again: as a full disk.
        const int error =
            misbehaviour.kind == Misbehaviour::Kind::take_nothing ? ENOSPC : misbehaviour.error;
        expected.errors = "kerfline: " + file + ": " + std::strerror(error) + "\n";
        expected.files = {{"form", clean.files.at("form")}, {"input", clean.files.at("input")}};
        for (const auto& [output, count] : written) {
            const std::string name = name_of_path(output);
            expected.files[name] = clean.files.at(name).substr(0, count);
        }
        if (call.kind == SystemCall::read && file == input_path) {
            for (const auto& [fd, open_path] : open_paths) {
                if (open_path != form_path && open_path != input_path) {
                    expected.keeps_what_was_read = name_of_path(open_path);
                }
            }
        }
        return expected;
    }

    // A stop ends the run wherever it comes, with the report written out to the end of a
    // message, standard output as it was, and every file the run created reported.
    void expect_stopped_whole(bool terminal, const Fault& fault, const Outcome& clean) const {
        remove_outputs();
        const StoppedRun stopped =
            run_until_stopped(terminal, fault, &Console::stop_from_outside, [&] { return run_tool(); });
        EXPECT_TRUE(stopped.stopped);
        EXPECT_TRUE(clean.console.starts_with(stopped.console) &&
                    (stopped.console.empty() || stopped.console.ends_with('\n')))
            << "the report ends inside a message: " << stopped.console.substr(stopped.console.rfind('\n') + 1);
        EXPECT_EQ(stopped.errors, "");
        EXPECT_TRUE(stopped.console_flags_kept) << "standard output was left non-blocking";
        for (const auto& [name, bytes] : folder.files()) {
            if (name == "form" || name == "input") continue;
            EXPECT_NE(stopped.console.find(opened_text(path(name))), std::string::npos) << name << " not reported";
            EXPECT_TRUE(clean.files.at(name).starts_with(bytes)) << name;
        }
    }

    void walk(const std::string& form, const std::string& input, bool stops_only = false) {
        folder.write("form", form);
        folder.write("input", input);
        Outcome on_terminal;
        const Recording terminal_calls = run(true, std::nullopt, on_terminal);
        const ModelRun modelled = model_run(form, input, form_path, input_path);
        ASSERT_EQ(on_terminal.console, modelled.console);
        ASSERT_EQ(on_terminal.status, modelled.status);
        Files modelled_files = {{"form", form}, {"input", input}};
        for (const auto& [output, bytes] : modelled.outputs) modelled_files[name_of_path(output)] = bytes;
        ASSERT_EQ(summary(on_terminal.files), summary(modelled_files));

        std::size_t points = 0;
        for (bool terminal : {true, false}) {
            Outcome clean;
            const Recording clean_calls = run(terminal, std::nullopt, clean);
            ASSERT_EQ(clean.console, on_terminal.console);
            ASSERT_EQ(clean.errors, "");
            for (SystemCall kind : every_system_call) {
                const std::size_t count = static_cast<std::size_t>(
                    std::count_if(clean_calls.calls.begin(), clean_calls.calls.end(),
                                  [&](const CallRecord& call) { return call.kind == kind; }));
                for (std::size_t index = 0; index < count; ++index) {
                    for (const Misbehaviour& misbehaviour : misbehaviours_of[static_cast<std::size_t>(kind)]) {
                        if (stops_only && misbehaviour.kind != Misbehaviour::Kind::stop) continue;
                        const Fault fault{kind, index, misbehaviour};
                        SCOPED_TRACE(std::string(terminal ? "terminal, " : "pipe, ") + name_of(kind) +
                                     " #" + std::to_string(index) + " " + describe(misbehaviour));
                        ++points;
                        if (misbehaviour.kind == Misbehaviour::Kind::stop) {
                            expect_stopped_whole(terminal, fault, clean);
                            if (HasFailure()) return;
                            continue;
                        }
                        Outcome actual;
                        const Recording calls = run(terminal, fault, actual);
                        const Outcome expected =
                            expected_outcome(clean, clean_calls, terminal_calls, fault);
                        EXPECT_EQ(actual.status, expected.status);
                        EXPECT_EQ(actual.console, expected.console);
                        EXPECT_EQ(actual.errors, expected.errors);
                        if (!actual.errors.empty()) {
                            EXPECT_EQ(calls.console_before_errors, actual.console.size())
                                << "a console and standard error that are one file show the "
                                   "failure before its reason";
                        }
                        expect_files(actual.files, expected, clean.files);
                        if (HasFailure()) return;
                    }
                }
            }
        }
        RecordProperty("failure_points", static_cast<int>(points));
    }
};

TEST_F(FaultWalk, EveryFailurePointOfThreeRuns) {
    const std::string one = path("one"), two = path("two"), three = path("three"), four = path("four");
    const std::string long_marker(400, 'L');
    for (const auto& [form, input] : std::vector<std::pair<std::string, std::string>>{
             // Four records; M1 and the line end of M3 straddle buffer boundaries (1024, 3072).
             {"M1\n" + one + "\n1\nM2\n" + two + "\n0\nM3\n" + three + "\n2\nM4\n" + four + "\n1\n",
              filler('a', 1023) + "M1\n" + filler('b', 800) + "M2\n" + filler('c', 1240) + "M3\r\n" +
                  filler('d', 1600) + "M4\nnot read\n"},
             // An input that ends before its markers.
             {"M1\n" + one + "\n1\nM2\n" + two + "\n1\nM3\n" + three + "\n2\nM4\n" + four + "\n1\n",
              filler('a', 1200) + "M1\n" + filler('b', 100) + "unended"},
             // A form cut short, its marker longer than the form's buffer, so that the form
             // too is read in pieces; in the input the marker straddles a buffer boundary.
             {long_marker + "\n" + one + "\n1\nM2\n" + two + "\n1\nM3\n" + three,
              filler('a', 1000) + long_marker + "\n" + filler('b', 1200) + "M2\nM3\n"}}) {
        SCOPED_TRACE(::testing::PrintToString(input.substr(input.size() - 12)));
        walk(form, input);
        if (HasFailure()) return;
    }
    // Stops alone where the report's echo of a marker is longer than its buffer, and
    // goes out in parts; the form is read in larger pieces, the walk would be long.
    const std::string longer_marker(70000, 'L');
    capacities.form = 16 * 1024;
    walk("M1\n" + one + "\n1\n" + longer_marker + "\n" + two + "\n2\nM3\n" + three + "\n1\n",
         filler('a', 1000) + "M1\n" + longer_marker + "\nM3\n", true);
}

}  // namespace
}  // namespace kerfline::testing
