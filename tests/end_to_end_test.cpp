// End to end: the built tool run in a scratch folder, its report, exit
// status and every file it leaves compared byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "model.h"
#include "run_tool.h"

namespace kerfline::testing {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

const std::string usage_text =
    "kerfline " KERFLINE_VERSION " by the kerfline developers\n"
    "kerfline form_file input_file\n"
    "    form\x82\xc9\x82\xb5\x82\xbd\x82\xaa\x82\xc1\x82\xc4\x93\xfc\x97\xcd\x83\x74\x83\x40"
    "\x83\x43\x83\x8b\x82\xf0\x95\xaa\x8a\x84\x82\xb5\x82\xc4\x8f\x6f\x97\xcd\x82\xb7\x82\xe9"
    "\x83\x63\x81\x5b\x83\x8b\n"
    "    form\x93\xe0\x97\x65\n"
    "    form\x81\x46\x95\xaa\x8a\x84\x82\xcc\x90\xdf\x96\xda\x82\xc9\x82\xb7\x82\xe9\x8d\x73"
    "\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57\n"
    "    form\x81\x46\x8f\x6f\x97\xcd\x82\xb7\x82\xe9\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc\n"
    "    form\x81\x46\x82\x50\x81\x69\x8f\x6f\x97\xcd\x82\xb7\x82\xe9\x81\x6a\x81\x40\x82\x4f"
    "\x81\x69\x8f\x6f\x97\xcd\x82\xb5\x82\xc8\x82\xa2\x81\x6a\n";

// Whether this test may mount file systems of its own: as root, in a mount
// namespace of its own, where they vanish with the test's process.
bool own_mount_namespace() {
    static const bool own = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0 &&
                            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return own;
}

// A file system mounted for the length of a test.
class Mount {
public:
    Mount(const char* type, const fs::path& at, const std::string& options = "") : at_(at) {
        if (::mount(type, at.c_str(), type, 0, options.c_str()) != 0) {
            ADD_FAILURE() << "mount " << type << " on " << at << ": " << std::strerror(errno);
        }
    }
    ~Mount() { ::umount2(at_.c_str(), MNT_DETACH); }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

private:
    fs::path at_;
};

class Split : public ::testing::Test {
protected:
    ScratchFolder folder;

    ToolRun run(const std::vector<std::string>& arguments, const ToolOptions& options = {}) {
        ToolRun result = run_tool(folder.path(), arguments, options);
        if (result.status == 1) {
            EXPECT_TRUE(result.errors.starts_with("kerfline: ") &&
                        std::count(result.errors.begin(), result.errors.end(), '\n') == 1)
                << "a failure says why in one line on standard error: " << result.errors;
        } else {
            EXPECT_EQ(result.errors, "") << "a run that does not fail says nothing there";
        }
        EXPECT_TRUE(result.console_line_ends_native)
            << "a Windows console program ends its report lines with CR LF";
        return result;
    }

    // Runs `form` over `input` and checks the whole outcome against the model.
    void expect_as_modelled(const std::string& form, const std::string& input) {
        for (const auto& entry : fs::directory_iterator(folder.path())) fs::remove_all(entry.path());
        folder.write("form", form);
        folder.write("input", input);
        const ModelRun expected = model_run(form, input);
        const ToolRun actual = run({"form", "input"});
        EXPECT_EQ(actual.console, expected.console);
        EXPECT_EQ(actual.status, expected.status);
        Files files = expected.outputs;
        files["form"] = form;
        files["input"] = input;
        EXPECT_EQ(folder.files(), files);
    }

    // Runs `command_line` (the tool's arguments, then redirects) through
    // Wine's shell, and reads back the report and the reasons that the
    // redirects send to "log" and "errors".
    ToolRun run_in_windows_shell(const std::string& command_line) {
        ToolOptions options;
        options.command = tool_command();
        const std::string program = windows_path(options.command.back());
        options.command.back() = "cmd";
        options.command.insert(options.command.end(), {"/c", program + " " + command_line});
        ToolRun result = run_tool(folder.path(), {}, options);
        result.console = from_text_mode(folder.read("log"));
        result.errors = from_text_mode(folder.read("errors"));
        fs::remove(folder.path() / "log");
        fs::remove(folder.path() / "errors");
        return result;
    }
    static std::string from_text_mode(std::string text) {
        std::erase(text, '\r');
        return text;
    }

    // Standard error's line for a failure.
    static std::string reason(const std::string& path, const std::string& words) {
        return "kerfline: " + path + ": " + words + "\n";
    }
    // A system error in the system's own words: strerror's, or FormatMessage's
    // under Wine.
    static std::string system_words(int error, const char* windows_words) {
        return testing_windows_build() ? windows_words : std::strerror(error);
    }

    std::string preamble() const { return banner_text + opened_text("form") + opened_text("input"); }

    // Each name is the input file under another spelling: refused before
    // a byte of the input changes.
    void expect_each_refused_as_the_input(const std::vector<std::string>& names,
                                          const std::string& input) {
        for (const std::string& name : names) {
            folder.write("form", "M\n" + name + "\n2\n");
            const ToolRun result = run({"form", "input"});
            EXPECT_EQ(result.console,
                      preamble() + block_text(0, "M", name, 2) + cannot_open_text(name));
            EXPECT_EQ(result.errors, reason(name, "the output is the input file"));
            EXPECT_EQ(result.status, 1);
            EXPECT_EQ(folder.read("input"), input);
        }
    }

    // The first two outputs are complete and closed when the third cannot
    // be opened; the fourth record is never read.
    void expect_third_output_unopenable(const std::string& third, const std::string& why) {
        const std::string form = "A\none\n1\nB\ntwo\n2\nC\n" + third + "\n1\nD\nfour\n1\n";
        const std::string input = "a\nA\nb\nB\nc\nC\nd\nD\n";
        folder.write("form", form);
        folder.write("input", input);
        const ToolRun result = run({"form", "input"});
        EXPECT_EQ(result.console, preamble() + block_text(0, "A", "one", 1) + opened_text("one") +
                                      block_text(1, "B", "two", 2) + opened_text("two") +
                                      block_text(2, "C", third, 1) + cannot_open_text(third));
        EXPECT_EQ(result.errors, reason(third, why));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(folder.files(),
                  (Files{{"form", form}, {"input", input}, {"one", "a\nA\n"}, {"two", ""}}));
    }
};

TEST_F(Split, TwoRecordExample) {
    folder.write("form", "=== A ===\na.txt\n1\n=== B ===\nb.txt\n0\n");
    folder.write("input", "a1\na2\n=== A ===\nb1\n=== B ===\nrest\n");
    const ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.console, preamble() + block_text(0, "=== A ===", "a.txt", 1) +
                                  opened_text("a.txt") + block_text(1, "=== B ===", "b.txt", 0));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(folder.files(), (Files{{"form", "=== A ===\na.txt\n1\n=== B ===\nb.txt\n0\n"},
                                     {"input", "a1\na2\n=== A ===\nb1\n=== B ===\nrest\n"},
                                     {"a.txt", "a1\na2\n=== A ===\n"}}));
}

TEST_F(Split, WrongArgumentCountPrintsUsageAndTouchesNothing) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"form"}, {"form", "input", "extra"}}) {
        const ToolRun result = run(arguments);
        EXPECT_EQ(result.console, usage_text);
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(fs::is_empty(folder.path()));
    }
}

TEST_F(Split, MissingFormOrInput) {
    ToolRun result = run({"no-form", "no-input"});
    EXPECT_EQ(result.console, banner_text + cannot_open_text("no-form"));
    EXPECT_EQ(result.errors, reason("no-form", system_words(ENOENT, "File not found")));
    EXPECT_EQ(result.status, 1);

    folder.write("form", "M\nout\n1\n");
    result = run({"form", "./no-input"});
    EXPECT_EQ(result.console, banner_text + opened_text("form") + cannot_open_text("./no-input"));
    EXPECT_EQ(result.errors, reason("./no-input", system_words(ENOENT, "File not found")));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(folder.files(), (Files{{"form", "M\nout\n1\n"}}));

    // The reason stays one line: a control byte of the path is escaped
    // there, and only there.
    result = run({"form", "no\nsuch\t\x1b"});
    EXPECT_EQ(result.console, banner_text + opened_text("form") + cannot_open_text("no\nsuch\t\x1b"));
    EXPECT_EQ(result.errors, reason("no\\nsuch\\t\\x1b", system_words(ENOENT, "Invalid name")));
}

TEST_F(Split, ThirdOutputInMissingFolder) {
    expect_third_output_unopenable("missing/three", system_words(ENOENT, "Path not found"));
}

TEST_F(Split, InputLineLongerThanMemoryKeepsMemoryBounded) {
    if (testing_sanitized_build()) GTEST_SKIP() << "sanitizers keep memory of their own";
    // Longer than the 16 MiB the run must stay below, so a run that held
    // it would show.
    constexpr std::size_t size = 20 * 1024 * 1024;
    // Then 300,000 records that copy nothing: their 13 MB of report must go
    // out as it comes, not wait in memory.
    std::string skipped;
    for (int i = 0; i < 300000; ++i) skipped += "M\nskipped\n0\n";
    folder.write("form", "never\nout\n1\n" + skipped);
    // Written and dropped before the run: a forked child counts its
    // parent's memory as its own.
    folder.write("input", std::string(size, 'y'));
    const ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.status, 0);
    if (!testing_under_emulator()) EXPECT_LT(result.max_rss_kib, 16 * 1024);
    EXPECT_EQ(folder.read("out"), std::string(size, 'y'));
}

// A form's long marker or name costs its own length once, and only while
// its record lasts; a flag line is never held. The input line being
// compared with a marker is written as it comes, however long it is.
TEST_F(Split, LongFormLinesCostTheirOwnLengthOnce) {
    if (testing_sanitized_build()) GTEST_SKIP() << "sanitizers keep memory of their own";
    // What the tool needs of its own: the same run with short lines.
    folder.write("form", "m\nout\n1\nrest\nmissing/n\n1\n");
    folder.write("input", "a\nm\nrest\n");
    const long own_kib = run({"form", "input"}).max_rss_kib;
    // Each long line far longer than the read-ahead, and long enough that
    // holding one more than the run needs would show.
    constexpr std::size_t size = 4 * 1024 * 1024;
    folder.write("form", std::string(size, 'm') + "\nout\n1\nrest\n" + std::string(size, 'n') +
                             "\n1" + std::string(size, '0') + "\n");
    folder.write("input", "a\n" + std::string(size - 1, 'm') + "x\n" + std::string(size, 'm') +
                              "\nrest\n");
    // A forked child counts its parent's memory as its own: what the runner
    // freed goes back to the system first.
    ::malloc_trim(0);
    const ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.errors, reason(std::string(size, 'n'),
                                    system_words(ENAMETOOLONG, "File name is too long")));
    EXPECT_EQ(result.status, 1);
    // The tool's own, one of the long lines at a time, and half a line for
    // the buffers that the short run did not fill: well below the 16 MiB
    // plus the longest marker and name that the tool promises.
    if (!testing_under_emulator()) EXPECT_LT(result.max_rss_kib, own_kib + 3 * size / 2 / 1024);
    EXPECT_EQ(folder.read("out"),
              "a\n" + std::string(size - 1, 'm') + "x\n" + std::string(size, 'm') + "\n");
}

// Memory that runs out ends the run with status 1 and says so, wherever it
// runs out: before the first record, or on a form line too long for it.
TEST_F(Split, RunningOutOfMemoryIsAFailureThatSaysSo) {
    if (testing_sanitized_build()) {
        GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
    }
    if (testing_under_emulator()) GTEST_SKIP() << "the limit would fall on the emulator";
    folder.write("form", "M\nout\n1\n");
    folder.write("input", "m\n");
    ToolOptions options;
    auto run_within = [&](std::size_t kib) {
        options.address_space_limit = kib * 1024;
        return run_tool(folder.path(), {"form", "input"}, options);
    };
    // Below a floor the loader cannot map the program (status 127); found by
    // halving, in steps of 16 KiB, so that the walk below starts there.
    constexpr std::size_t step = 16;
    std::size_t too_small = 1024 / step - 1;
    std::size_t floor = 64 * 1024 / step;
    while (floor - too_small > 1) {
        const std::size_t middle = (too_small + floor) / 2;
        (run_within(middle * step).status == 127 ? too_small : floor) = middle;
    }
    // Every limit from the floor to one the run fits in: below that, the run
    // ends before its first record.
    ToolRun result;
    std::size_t out_of_memory = 0;
    std::size_t kib = floor * step;
    for (; kib < 64 * 1024; kib += step) {
        result = run_within(kib);
        if (result.status == 127) continue;  // the loader could not map the program
        if (result.status == 0 && result.errors.empty()) break;
        SCOPED_TRACE(std::to_string(kib) + " KiB");
        EXPECT_EQ(result.errors, "kerfline: out of memory\n");
        ASSERT_EQ(result.status, 1);
        ++out_of_memory;
    }
    EXPECT_GT(out_of_memory, 0u);
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", "out", 1) + opened_text("out"));

    // With 8 MiB to spare, a marker line as long as the whole limit.
    options.address_space_limit = (kib + 8 * 1024) * 1024;
    folder.write("form", std::string(options.address_space_limit, 'm') + "\nout\n1\n");
    result = run({"form", "input"}, options);
    EXPECT_EQ(result.console, preamble() + cannot_read_text("form"));
    EXPECT_EQ(result.errors, reason("form", "a form line too long for memory"));
    EXPECT_EQ(result.status, 1);
}

// Past 2 GiB a 32-bit build needs 64-bit file offsets to open a file and to
// write on: a sparse input with its markers past the 2 and the 4 GiB marks,
// and a first section of more than 2 GiB written out. The files go to the
// folder KERFLINE_TEST_LARGE_FILES names, a build folder, whose file system
// keeps the input sparse (the temporary folder may be memory). Only the
// 32-bit builds' presets set it: a 64-bit build has 64-bit sizes anyway,
// and there the case would cost 2 GiB of writes on every run for nothing.
TEST_F(Split, InputsAndOutputsPastFourGiB) {
    if (large_file_folder().empty()) {
        GTEST_SKIP() << "runs against 32-bit builds only";
    }
    constexpr std::uintmax_t gib = std::uintmax_t{1} << 30;
    const ScratchFolder large(large_file_folder());
    const fs::path input = large.path() / "input";
    auto append_after_hole = [&](std::uintmax_t offset, const std::string& bytes) {
        fs::resize_file(input, offset);  // a hole, read as NUL bytes
        std::ofstream(input, std::ios::binary | std::ios::app) << bytes;
    };
    large.write("input", "");
    append_after_hole(2 * gib + 1, "\nA\n");
    append_after_hole(4 * gib + 1, "\nB\nlast\n");
    large.write("form", "A\nbig\n1\nB\nskipped\n0\nnever\nrest\n1\n");
    const ToolRun result = run_tool(large.path(), {"form", "input"});
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.console, preamble() + block_text(0, "A", "big", 1) + opened_text("big") +
                                  block_text(1, "B", "skipped", 0) +
                                  block_text(2, "never", "rest", 1) + opened_text("rest"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(fs::file_size(large.path() / "big"), 2 * gib + 4);
    std::string end_of_big(4, '?');
    std::ifstream(large.path() / "big", std::ios::binary)
        .seekg(-4, std::ios::end)
        .read(end_of_big.data(), 4);
    EXPECT_EQ(end_of_big, std::string("\0\nA\n", 4));
    EXPECT_FALSE(fs::exists(large.path() / "skipped"));
    EXPECT_EQ(large.read("rest"), "last\n");
}

TEST_F(Split, NulIsAnOrdinaryByte) {
    using namespace std::string_literals;
    expect_as_modelled("a\0b\nout\0put\n1\n"s, "a\nx\0y\na\0b\nrest\0\n"s);
    const ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.console,
              preamble() + block_text(0, "a\0b"s, "out\0put"s, 1) + cannot_open_text("out\0put"s));
    EXPECT_EQ(result.errors, reason("out\\x00put", "the name holds a NUL byte"));
    expect_as_modelled("a\0b\nout\n1\n"s, "a\nx\0y\na\0b\nrest\0\n"s);
    EXPECT_EQ(folder.read("out"), "a\nx\0y\na\0b\n"s);
}

TEST_F(Split, LineEndsMatchEitherWayAndOutputsKeepTheirBytes) {
    // A form written on Windows over an input written on Linux, and back.
    expect_as_modelled("END\r\none.txt\r\n1\r\n\r\ntwo.txt\r\n1\r\n", "a\nEND\nb\n\nc\n");
    EXPECT_EQ(folder.read("one.txt"), "a\nEND\n");
    EXPECT_EQ(folder.read("two.txt"), "b\n\n");
    expect_as_modelled("END\none.txt\n1\n\ntwo.txt\n1\n", "a\r\nEND\r\nb\r\n\r\nc\r\n");
    EXPECT_EQ(folder.read("one.txt"), "a\r\nEND\r\n");
    // Only one CR belongs to the line end; a lone CR and 1A are bytes.
    expect_as_modelled("END\r\r\nout\r\n1\r\n", "END\r\nEND\r\r\r\nEND\r\r\nx\x1a\ry\n");
    EXPECT_EQ(folder.read("out"), "END\r\nEND\r\r\r\nEND\r\r\n");
    // A last line ending in CR never matches.
    expect_as_modelled("END\nout\n1\n", "a\nEND\r");
}

TEST_F(Split, NeverWritesOverItsOwnForm) {
    const std::string form = "M\n./form\n1\n";
    folder.write("form", form);
    folder.write("input", "a\nM\n");
    const ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", "./form", 1) + cannot_open_text("./form"));
    EXPECT_EQ(result.errors, reason("./form", "the output is the form file"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(folder.read("form"), form);
}

TEST_F(Split, NeverWritesOverItsInputHoweverNamed) {
    const std::string input = "a\nM\nb\n";
    fs::create_directory(folder.path() / "sub");
    folder.write("input", input);
    fs::create_hard_link(folder.path() / "input", folder.path() / "hard");
    std::vector<std::string> names = {"sub/../input", "hard", (folder.path() / "input").string()};
    // A Linux symlink is not a Windows one; Wine would only follow it.
    if (!testing_windows_build()) {
        fs::create_symlink("input", folder.path() / "soft");
        names.push_back("soft");
    }
    expect_each_refused_as_the_input(names, input);
    // Form and input may be one file.
    folder.write("form", "M\nout\n1\n");
    EXPECT_EQ(run({"form", "form"}).status, 0);
    EXPECT_EQ(folder.read("out"), "M\n");

    // An overlay mount shows a file of the folder beneath it on a device of
    // its own, with the same index and the same size and time: named
    // beneath it, the input, or the log appended to through it, is the same
    // file. Strangers that share only an index on two file systems are not.
    if (testing_windows_build() || !own_mount_namespace()) return;
    for (const char* name : {"lower", "upper", "work", "merged", "one", "two"}) {
        fs::create_directory(folder.path() / name);
    }
    folder.write("lower/input", input);
    folder.write("lower/log", "old\n");
    const std::string lower = (folder.path() / "lower").string();
    const Mount overlay("overlay", folder.path() / "merged",
                        "lowerdir=" + lower + ",upperdir=" + (folder.path() / "upper").string() +
                            ",workdir=" + (folder.path() / "work").string());
    const Mount one("tmpfs", folder.path() / "one");
    const Mount two("tmpfs", folder.path() / "two");
    folder.write("one/input", "a\nM\n");
    folder.write("two/twin", "b\nM\n");
    fs::last_write_time(folder.path() / "two/twin",
                        fs::last_write_time(folder.path() / "one/input") - std::chrono::seconds(1));
    struct stat one_input;
    struct stat twin;
    ASSERT_TRUE(::stat((folder.path() / "one/input").c_str(), &one_input) == 0 &&
                ::stat((folder.path() / "two/twin").c_str(), &twin) == 0);
    ToolOptions appended;
    appended.report_to = ReportTo::file_appended;
    appended.report_file = folder.path() / "merged/log";
    for (const auto& [input_name, output, options, why] :
         std::vector<std::tuple<std::string, std::string, ToolOptions, std::string>>{
             {"merged/input", lower + "/input", {}, "the output is the input file"},
             {"input", lower + "/log", appended, "the output is the file the report goes to"},
             {"one/input", (folder.path() / "two/twin").string(), {}, ""}}) {
        SCOPED_TRACE(output);
        folder.write("form", "M\n" + output + "\n1\n");
        const ToolRun result = run({"form", input_name}, options);
        const std::string report =
            banner_text + opened_text("form") + opened_text(input_name) + block_text(0, "M", output, 1);
        if (why.empty()) {
            EXPECT_EQ(one_input.st_ino, twin.st_ino) << "no strangers to try";
            EXPECT_EQ(result.console, report + opened_text(output));
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(folder.read("two/twin"), "a\nM\n");
            continue;
        }
        EXPECT_EQ(result.console, (options.report_file.empty() ? "" : "old\n") + report +
                                      cannot_open_text(output));
        EXPECT_EQ(result.errors, reason(output, why));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(folder.read("lower/input"), input);
        EXPECT_EQ(folder.read("lower/log"), "old\n");
    }
}

// Standard output and error sent to files are guarded like the form and the
// input, however an output names them: the section and the report would
// share one file. A pipe is no file, and takes a section, after the report
// of its record.
TEST_F(Split, NeverWritesOverItsReportOrItsReasons) {
    folder.write("input", "a\nM\n");
    // Each row: the form and the input named on the command line, the form's
    // output, and the reason. Standard output goes to "log", standard error
    // to "errors".
    struct Row {
        std::string form;
        std::string input;
        std::string output;
        std::string why;
    };
    const std::vector<Row> rows = {
        {"form", "input", "log", "the output is the file the report goes to"},
        {"form", "input", "errors", "the output is the file standard error goes to"},
        {"form", "input", "input", "the output is the input file"},  // a fourth file guarded
        {"log", "input", "", "the report goes to this file"},
        {"form", "log", "", "the report goes to this file"},
        {"errors", "input", "", "standard error goes to this file"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.form + " " + row.input + " " + row.output);
        const std::string form = "M\n" + row.output + "\n1\n";
        folder.write("form", form);
        std::string console = banner_text;
        std::string refused = row.form;
        if (row.output.empty()) {
            if (row.form == "form") console += opened_text("form");
            refused = row.form == "form" ? row.input : row.form;
        } else {
            console = preamble() + block_text(0, "M", row.output, 1);
            refused = row.output;
        }
        console += cannot_open_text(refused);
        ToolRun result;
        if (testing_windows_build()) {
            // Wine's own shell makes the redirects Windows files, with an
            // identity; one made by the Linux shell has none there.
            result = run_in_windows_shell(row.form + " " + row.input + " > log 2> errors");
        } else {
            ToolOptions to_files;
            to_files.report_to = ReportTo::file;
            to_files.report_file = folder.path() / "log";
            to_files.errors_file = folder.path() / "errors";
            result = run({row.form, row.input}, to_files);
        }
        EXPECT_EQ(result.console, console);
        EXPECT_EQ(result.errors, reason(refused, row.why));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(folder.read("input"), "a\nM\n");
        EXPECT_EQ(folder.read("form"), form);
    }
    if (testing_windows_build()) return;
    ToolOptions to_log;
    to_log.report_to = ReportTo::file;
    to_log.report_file = folder.path() / "log";
    folder.write("form", "M\n/dev/stdout\n1\n");
    ToolRun result = run({"form", "input"}, to_log);
    EXPECT_EQ(result.errors, reason("/dev/stdout", "the output is the file the report goes to"));
    folder.write("form", "M0\n/dev/stdout\n1\nM1\n/dev/stdout\n1\n");
    folder.write("input", "s0\nM0\ns1\nM1\n");
    result = run({"form", "input"});
    EXPECT_EQ(result.console, preamble() + block_text(0, "M0", "/dev/stdout", 1) +
                                  opened_text("/dev/stdout") + "s0\nM0\n" +
                                  block_text(1, "M1", "/dev/stdout", 1) +
                                  opened_text("/dev/stdout") + "s1\nM1\n");
    EXPECT_EQ(result.status, 0);
}

// Paths longer than 260 characters, which Windows refuses to programs that
// do not ask for more: an output deep in folders and the form by its
// absolute path, each echoed as typed.
TEST_F(Split, PathsLongerThan260Characters) {
    const std::string separator = testing_windows_build() ? "\\" : "/";
    fs::path folders;
    std::string out;
    for (const char letter : {'a', 'b', 'c', 'd', 'e', 'f'}) {
        folders /= std::string(50, letter);
        out += std::string(50, letter) + separator;
    }
    out += "out";
    fs::create_directories(folder.path() / folders);
    const std::string form = "M\n" + out + "\n1\n";
    folder.write((folders / "form").string(), form);
    folder.write("input", "a\nM\n");
    const fs::path form_file = folder.path() / folders / "form";
    const std::string form_path =
        testing_windows_build() ? windows_path(form_file) : form_file.string();
    const ToolRun result = run({form_path, "input"});
    EXPECT_EQ(result.console, banner_text + opened_text(form_path) + opened_text("input") +
                                  block_text(0, "M", out, 1) + opened_text(out));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(folder.files(), (Files{{(folders / "form").string(), form},
                                     {"input", "a\nM\n"},
                                     {(folders / "out").string(), "a\nM\n"}}));
}

TEST_F(Split, DirectoriesCannotBeOpened) {
    fs::create_directory(folder.path() / "dir");
    ToolRun result = run({"dir", "input"});
    EXPECT_EQ(result.console, banner_text + cannot_open_text("dir"));
    EXPECT_EQ(result.errors, reason("dir", "Is a directory"));
    folder.write("form", "M\ndir\n1\n");
    result = run({"form", "dir"});
    EXPECT_EQ(result.console, banner_text + opened_text("form") + cannot_open_text("dir"));
    EXPECT_EQ(result.errors, reason("dir", "Is a directory"));
    folder.write("input", "M\n");
    result = run({"form", "input"});
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", "dir", 1) + cannot_open_text("dir"));
    EXPECT_EQ(result.errors, reason("dir", "Is a directory"));
    EXPECT_EQ(result.status, 1);
}

TEST_F(Split, DevicesBehaveAsDevices) {
    if (testing_windows_build()) {
        GTEST_SKIP() << "Windows has no /dev/null or /dev/full; its NUL device is a Windows case";
    }
    // Run as root, the tool would create a missing device as a plain file.
    for (const char* device : {"/dev/null", "/dev/full"}) {
        if (!fs::is_character_file(device)) GTEST_SKIP() << device << " is not a device here";
    }
    folder.write("input", "a\nM\nb\nN\nc\nO\n");
    folder.write("form", "M\n/dev/null\n1\nN\n/dev/full\n2\nO\n/dev/full\n1\n");
    ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", "/dev/null", 1) +
                                  opened_text("/dev/null") + block_text(1, "N", "/dev/full", 2) +
                                  opened_text("/dev/full") + block_text(2, "O", "/dev/full", 1) +
                                  opened_text("/dev/full") + cannot_write_text("/dev/full"));
    EXPECT_EQ(result.errors, reason("/dev/full", std::strerror(ENOSPC)));
    EXPECT_EQ(result.status, 1);
    // An empty section writes nothing, so even a full device takes it.
    folder.write("form", "O\nskipped\n0\nM\n/dev/full\n1\n");
    EXPECT_EQ(run({"form", "input"}).status, 0);

    // A FIFO whose reader is there first takes a section of any size: the
    // tool waits for room as for any pipe.
    const std::string section(1024 * 1024, 'x');
    folder.write("input", section + "\nM\n");
    folder.write("form", "M\nfifo\n1\n");
    ::mkfifo((folder.path() / "fifo").c_str(), 0666);
    std::string received;
    std::thread reader([&] {
        const int fd = ::open((folder.path() / "fifo").c_str(), O_RDONLY);
        char bytes[4096];
        for (ssize_t n; (n = ::read(fd, bytes, sizeof bytes)) > 0;) received.append(bytes, n);
        ::close(fd);
    });
    result = run({"form", "input"});
    reader.join();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(received, section + "\nM\n");
}

TEST_F(Split, ReadErrorsAreFailures) {
    if (testing_windows_build()) {
        GTEST_SKIP() << "Windows has no /proc/self/mem, nor another file that opens and then "
                        "fails its first read";
    }
    // /proc/self/mem opens but fails at its first read.
    folder.write("form", "M\nout\n1\n");
    ToolRun result = run({"form", "/proc/self/mem"});
    EXPECT_EQ(result.console, banner_text + opened_text("form") + opened_text("/proc/self/mem") +
                                  block_text(0, "M", "out", 1) + opened_text("out") +
                                  cannot_read_text("/proc/self/mem"));
    EXPECT_EQ(result.errors, reason("/proc/self/mem", std::strerror(EIO)));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(folder.read("out"), "");

    folder.write("input", "M\n");
    result = run({"/proc/self/mem", "input"});
    EXPECT_EQ(result.console, banner_text + opened_text("/proc/self/mem") + opened_text("input") +
                                  cannot_read_text("/proc/self/mem"));
    EXPECT_EQ(result.status, 1);
}

// Some 140 KB of report, past the console's buffer and a pipe's, that no
// one reads: the split goes on to its end.
TEST_F(Split, AGoneConsoleNeverStopsTheSplit) {
    std::string input;
    std::string form;
    for (int i = 0; i < 2000; ++i) {
        input += "line " + std::to_string(i) + "\nM\n";
        form += "M\nout" + std::to_string(i) + (i % 500 == 499 ? "\n1\n" : "\n0\n");
    }
    folder.write("form", form);
    folder.write("input", input);
    Files expected = model_run(form, input).outputs;
    expected["form"] = form;
    expected["input"] = input;
    for (ReportTo report_to : {ReportTo::pipe_closed_at_once, ReportTo::closed}) {
        const ToolRun result = run({"form", "input"}, {report_to, {}});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(folder.files(), expected);
    }
}

TEST_F(Split, FileSizeLimitFailsAWriteNotTheRun) {
    if (testing_windows_build()) GTEST_SKIP() << "Windows has no file-size limit";
    constexpr std::size_t limit = 100 * 1024;
    const std::string big(200 * 1024 - 1, 'x');
    folder.write("form", "M\nbig\n1\nN\nsmall\n1\n");
    folder.write("input", big + "\nM\nN\n");
    ToolOptions limited;
    limited.file_size_limit = limit;
    ToolRun result = run({"form", "input"}, limited);
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", "big", 1) + opened_text("big") +
                                  cannot_write_text("big"));
    EXPECT_EQ(result.errors, reason("big", std::strerror(EFBIG)));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(folder.read("big"), big.substr(0, limit));
    fs::remove(folder.path() / "big");

    // A report past the limit is a report cut short, never a split.
    std::string form;
    std::string input;
    for (int i = 0; i < 3000; ++i) {
        form += "marker number " + std::to_string(i) + "\nout" + std::to_string(i) + "\n1\n";
        input += "line\nmarker number " + std::to_string(i) + "\n";
    }
    folder.write("form", form);
    folder.write("input", input);
    const ScratchFolder logs;
    limited.report_to = ReportTo::file;
    limited.report_file = logs.path() / "log";
    result = run({"form", "input"}, limited);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(logs.read("log").size(), limit);
    Files expected = model_run(form, input).outputs;
    expected["form"] = form;
    expected["input"] = input;
    EXPECT_EQ(folder.files(), expected);
}

TEST_F(Split, ClosedStandardStreamsNameNoFile) {
    if (testing_windows_build()) GTEST_SKIP() << "Windows has no /dev/stdin or /dev/stdout";
    folder.write("form", "M\n/dev/stdout\n1\n");
    ToolOptions no_input;
    no_input.input_closed = true;
    ToolRun result = run({"form", "/dev/stdin"}, no_input);
    EXPECT_EQ(result.console, banner_text + opened_text("form") + cannot_open_text("/dev/stdin"));
    EXPECT_EQ(result.errors, reason("/dev/stdin", std::strerror(ENOENT)));
    EXPECT_EQ(result.status, 1);
    // Then the form takes descriptor 0 and cannot leave it for a higher one.
    // The sanitizers' runtime and an emulator need descriptors of their own.
    if (!testing_under_emulator() && !testing_sanitized_build()) {
        no_input.open_file_limit = 3;
        result = run({"form", "/dev/stdin"}, no_input);
        EXPECT_EQ(result.console, banner_text + cannot_open_text("form"));
        EXPECT_EQ(result.errors, reason("form", std::strerror(EMFILE)));
        // An output that cannot leave descriptor 0 takes back the file it
        // created.
        folder.write("form", "M\nout\n1\n");
        folder.write("input", "a\nM\n");
        no_input.open_file_limit = 5;
        result = run({"form", "input"}, no_input);
        EXPECT_EQ(result.console, preamble() + block_text(0, "M", "out", 1) + cannot_open_text("out"));
        EXPECT_EQ(result.errors, reason("out", std::strerror(EMFILE)));
        EXPECT_EQ(folder.files(), (Files{{"form", "M\nout\n1\n"}, {"input", "a\nM\n"}}));
        folder.write("form", "M\n/dev/stdout\n1\n");
    }
    // Nor may the report, with its own stream closed, land in an output.
    folder.write("input", "a\nM\n");
    result = run({"form", "input"}, {ReportTo::closed, {}});
    EXPECT_EQ(result.errors, reason("/dev/stdout", std::strerror(ENOENT)));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(folder.files(), (Files{{"form", "M\n/dev/stdout\n1\n"}, {"input", "a\nM\n"}}));
}

// A log follows the run: while the tool waits, for the input, the form or
// an output that is a FIFO, with or without a reader, the log already holds
// the report of every record it has begun, not only when the run ends; and
// so it does when a stop from outside ends the run.
TEST_F(Split, RedirectedReportKeepsUpWhateverTheToolWaitsFor) {
    if (testing_windows_build()) {
        GTEST_SKIP() << "Wine reads a Linux FIFO as a disk file, waiting to fill the whole buffer; "
                        "a Windows pipe is another object";
    }
    const ScratchFolder logs;
    ToolOptions to_log;
    to_log.report_to = ReportTo::file;
    to_log.report_file = logs.path() / "log";
    // The FIFO `fifo` gets `before` from a second thread (or, when the tool
    // writes to it, nothing) and holds the rest back until the log reads
    // `waiting`; the tool's writes to it are read back into `written`. A
    // reader that comes first opens the FIFO before the run, and reads
    // nothing until then.
    enum class OtherEnd { writer, reader, reader_first };
    struct Stall {
        std::string fifo;
        OtherEnd other_end;
        std::string before;
        std::string after;
        std::string waiting;
    };
    auto run_stalled = [&](const Stall& stall, std::string& written) {
        fs::remove(folder.path() / stall.fifo);
        const std::string fifo = (folder.path() / stall.fifo).string();
        ::mkfifo(fifo.c_str(), 0666);
        int fd = stall.other_end == OtherEnd::reader_first ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK)
                                                           : -1;
        bool seen_while_waiting = false;
        std::thread other_end([&] {
            using std::chrono::steady_clock;
            const auto deadline = steady_clock::now() + std::chrono::seconds(60);
            while (stall.other_end == OtherEnd::writer && fd < 0 && steady_clock::now() < deadline) {
                fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            ::write(fd, stall.before.data(), stall.before.size());
            while (!seen_while_waiting && steady_clock::now() < deadline) {
                seen_while_waiting = logs.read("log") == stall.waiting;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (stall.other_end == OtherEnd::writer) {
                ::write(fd, stall.after.data(), stall.after.size());
            } else {
                if (fd < 0) fd = ::open(fifo.c_str(), O_RDONLY);
                ::fcntl(fd, F_SETFL, 0);
                char bytes[4096];
                for (ssize_t n; (n = ::read(fd, bytes, sizeof bytes)) > 0;) written.append(bytes, n);
            }
            ::close(fd);
        });
        const ToolRun result = run({"form", "input"}, to_log);
        other_end.join();
        EXPECT_TRUE(seen_while_waiting) << stall.fifo << ": " << logs.read("log");
        EXPECT_EQ(result.status, 0);
        fs::remove(folder.path() / stall.fifo);
    };
    const std::string first_records = preamble() + block_text(0, "A", "one", 1) + opened_text("one");
    std::string written;
    folder.write("form", "A\none\n1\nB\ntwo\n1\n");
    run_stalled({"input", OtherEnd::writer, "a\nA\nb\n", "B\n",
                 first_records + block_text(1, "B", "two", 1) + opened_text("two")},
                written);
    // The second record's section is in the input's buffer already, so only
    // a read of the form would write out its block.
    folder.write("input", "a\nA\nb\nB\n");
    run_stalled({"form", OtherEnd::writer, "A\none\n1\nB\nskipped\n0\n", "C\nthree\n2\n",
                 first_records + block_text(1, "B", "skipped", 0)},
                written);
    EXPECT_EQ(folder.read("one"), "a\nA\n");
    EXPECT_FALSE(fs::exists(folder.path() / "skipped"));
    EXPECT_EQ(folder.read("three"), "");
    folder.write("form", "A\none\n1\nB\nfifo\n1\n");
    run_stalled({"fifo", OtherEnd::reader, "", "", first_records + block_text(1, "B", "fifo", 1)},
                written);
    EXPECT_EQ(written, "b\nB\n");
    // Many records read at once, and a FIFO that takes a section larger than
    // it holds only when the log has every record's report.
    std::string form;
    std::string input;
    for (int i = 0; i < 500; ++i) {
        form += "M\nout" + std::to_string(i) + "\n1\n";
        input += "M\n";
    }
    const std::string section(256 * 1024, 'x');
    form += "M\nfifo\n1\n";
    input += section + "\nM\n";
    folder.write("form", form);
    folder.write("input", input);
    written.clear();
    run_stalled({"fifo", OtherEnd::reader_first, "", "", model_run(form, input).console}, written);
    EXPECT_EQ(written, section + "\nM\n");

    // Stopped from outside, the run ends as that signal ends a program, and
    // the log holds the whole messages of the report so far: the block of
    // every output on disk.
    form.clear();
    input.clear();
    for (int i = 0; i < 20000; ++i) {
        form += "M\nout" + std::to_string(i) + "\n1\n";
        input += "line\nM\n";
    }
    folder.write("form", form);
    folder.write("input", input);
    const std::string whole = model_run(form, input).console;
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(stop));
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            if (entry.path().filename().string().starts_with("out")) fs::remove(entry.path());
        }
        to_log.while_running = [&](int pid) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!fs::exists(folder.path() / "out100") && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ::kill(pid, stop);
        };
        const ToolRun result = run_tool(folder.path(), {"form", "input"}, to_log);
        EXPECT_EQ(result.stopped_by, stop);
        const std::string log = logs.read("log");
        // What the log lacks begins a message: a block, or an output's open.
        ASSERT_TRUE(whole.starts_with(log)) << log.substr(log.size() - std::min<std::size_t>(log.size(), 200));
        const std::string rest = whole.substr(log.size());
        EXPECT_TRUE(rest.empty() || rest.starts_with("#####") || rest.starts_with("out")) << rest.substr(0, 40);
        const auto outputs = std::count_if(
            fs::directory_iterator(folder.path()), fs::directory_iterator(),
            [](const fs::directory_entry& entry) { return entry.path().filename().string().starts_with("out"); });
        ASSERT_GT(outputs, 0);
        const std::string last = "out" + std::to_string(outputs - 1);
        EXPECT_NE(log.find(block_text(outputs - 1, "M", last, 1)), std::string::npos) << last;
    }
}

TEST_F(Split, UTF8TerminalReadsTheTextsInUTF8) {
    folder.write("form", "\x82\xa0\nout\n1\n");
    folder.write("input", "M\n");
    ToolRun result = run({"form", "input"}, {ReportTo::pipe, {{"LC_ALL", "ja_JP.UTF-8"}}});
    EXPECT_EQ(result.console, preamble() + block_text(0, "\x82\xa0", "out", 1) + opened_text("out"));
    if (testing_windows_build()) {
        GTEST_SKIP() << "Windows decides by its console's code page, and a terminal under Wine "
                        "is no Windows console";
    }
    const std::string expected =
        "【kerfline start】\nform open\ninput open\n#####0#####\n0：\x82\xa0\n0：out\n0：1\n"
        "↓↓↓↓↓↓↓↓↓↓\nout open\n";
    result = run({"form", "input"},
                 {ReportTo::terminal, {{"LC_ALL", ""}, {"LC_CTYPE", "ja_JP.utf-8@x"}}});
    EXPECT_EQ(result.console, expected);
    result = run({"form", "input"}, {ReportTo::terminal, {{"LC_ALL", "C"}, {"LANG", "ja_JP.UTF-8"}}});
    EXPECT_EQ(result.console, preamble() + block_text(0, "\x82\xa0", "out", 1) + opened_text("out"));
}

// Random forms over random inputs, built from a few words so that markers
// often match, with every kind of line end and some awkward bytes.
TEST_F(Split, RandomRunsAgreeWithTheModel) {
    std::mt19937 random(20261208);
    const std::vector<std::string> words = {"A", "B", "", "A ", "\r", "a\x1a", std::string(1, '\0'),
                                            "\x82\xa0", "ABABABABAB"};
    const std::vector<std::string> ends = {"\n", "\r\n", "\r\r\n", "\r"};
    auto pick = [&](const auto& from) { return from[random() % from.size()]; };
    for (int round = 0; round < 150; ++round) {
        std::string input;
        for (int lines = static_cast<int>(random() % 40); lines > 0; --lines) {
            input += pick(words) + pick(words) + (random() % 8 == 0 ? pick(ends) : "\n");
        }
        if (random() % 2 == 0) input += pick(words);
        std::string form;
        for (int records = static_cast<int>(random() % 6); records > 0; --records) {
            const std::string flag = pick(std::vector<std::string>{"1", "1", "0", "2", "-1", " 1"});
            const std::string end = random() % 4 == 0 ? "\r\n" : "\n";
            form += pick(words) + end + "out" + std::to_string(random() % 4) + end + flag + end;
        }
        if (random() % 4 == 0) form += "A\n";
        SCOPED_TRACE("round " + std::to_string(round));
        expect_as_modelled(form, input);
        if (HasFailure()) break;
    }
}

// What only a Windows build meets: drive letters, backslashes, names that
// differ in letter case only, and DOS device names.
class WindowsSplit : public Split {
protected:
    void SetUp() override {
        if (!testing_windows_build()) {
            GTEST_SKIP() << "Windows path rules apply to the Windows build";
        }
    }
};

// Names mean what they mean to every Windows program: drive letters,
// backslashes, and a trailing dot or space that the name loses.
TEST_F(WindowsSplit, NamesAreReadAsWindowsReadsThem) {
    fs::create_directory(folder.path() / "sub");
    const std::string form_path = windows_path(folder.path() / "sub" / "form");
    const std::string two_path = windows_path(folder.path() / "two");
    const std::string form = "A\nsub\\one\n1\nB\n" + two_path + "\n1\nC\nthree.\n1\nD\nfour \n1\n";
    folder.write("sub/form", form);
    folder.write("input", "a\nA\nb\nB\nc\nC\nd\nD\n");
    const ToolRun result = run({form_path, ".\\input"});
    EXPECT_EQ(result.console, banner_text + opened_text(form_path) + opened_text(".\\input") +
                                  block_text(0, "A", "sub\\one", 1) + opened_text("sub\\one") +
                                  block_text(1, "B", two_path, 1) + opened_text(two_path) +
                                  block_text(2, "C", "three.", 1) + opened_text("three.") +
                                  block_text(3, "D", "four ", 1) + opened_text("four "));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(folder.files(), (Files{{"sub/form", form},
                                     {"input", "a\nA\nb\nB\nc\nC\nd\nD\n"},
                                     {"sub/one", "a\nA\n"},
                                     {"two", "b\nB\n"},
                                     {"three", "c\nC\n"},
                                     {"four", "d\nD\n"}}));
}

// A name the ANSI code page cannot hold exactly is refused: converted as
// Windows converts names, the bytes it lacks would become one stand-in, and
// "bad\x82.txt" and "bad\x83.txt" (a lead byte before ".") one file. The
// system's reasons lose their full stop there too.
TEST_F(WindowsSplit, NamesTheCodePageCannotHoldAreRefused) {
    const ToolOptions code_page_932{ReportTo::pipe, {{"LC_ALL", "ja_JP.UTF-8"}}};
    const std::string form = "M\nok.txt\n1\nN\nbad\x82.txt\n1\nO\nbad\x83.txt\n1\n";
    folder.write("form", form);
    folder.write("input", "a\nM\nb\nN\n");
    ToolRun result = run({"form", "input"}, code_page_932);
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", "ok.txt", 1) + opened_text("ok.txt") +
                                  block_text(1, "N", "bad\x82.txt", 1) + cannot_open_text("bad\x82.txt"));
    EXPECT_EQ(result.errors, reason("bad\x82.txt", "the name is not text in code page 932"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(folder.files(), (Files{{"form", form},
                                     {"input", "a\nM\nb\nN\n"},
                                     {"ok.txt", "a\nM\n"}}));
    result = run({"missing", "input"}, code_page_932);
    EXPECT_TRUE(result.errors.starts_with("kerfline: missing: ")) << result.errors;
    EXPECT_FALSE(result.errors.ends_with("\x81\x42\n")) << result.errors;

    // So are arguments, before anything is opened: converted as the C
    // runtime converts them, with the code page's best fit, "plan-ß.form"
    // would read "plan-s.form", and a run meant to skip keep.txt write it.
    folder.write("plan-ß.form", "END\nkeep.txt\n0\n");
    folder.write("plan-s.form", "END\nkeep.txt\n1\n");
    folder.write("keep.txt", "precious\n");
    folder.write("in.txt", "a\nEND\n");
    for (const auto& [form, input, shown] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"plan-ß.form", "in.txt", "plan-?.form"},
             {"plan-s.form", "café.txt", "caf?.txt"},
             {"plan-s.form", "rep¥2024.txt", "rep?2024.txt"}}) {
        result = run({form, input}, code_page_932);
        EXPECT_EQ(result.console, banner_text + cannot_open_text(shown));
        EXPECT_EQ(result.errors, reason(shown, "the name is not text in code page 932"));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(folder.read("keep.txt"), "precious\n");
    }
}

// Names the code page holds are taken as they are, arguments and names in
// a form alike: kanji, one whose second byte is a backslash (表, 95 5C),
// half-width kana.
TEST_F(WindowsSplit, NamesInTheCodePageAreTaken) {
    const std::string form = "END\n\x95\x5c\x8e\xa6.txt\n1\nEND2\n\xb1\xb2.txt\n1\n";
    folder.write("表.form", form);
    folder.write("ｱ.in", "a\nEND\nb\nEND2\n");
    const ToolRun result = run({"表.form", "ｱ.in"}, {ReportTo::pipe, {{"LC_ALL", "ja_JP.UTF-8"}}});
    EXPECT_EQ(result.console, banner_text + opened_text("\x95\x5c.form") + opened_text("\xb1.in") +
                                  block_text(0, "END", "\x95\x5c\x8e\xa6.txt", 1) +
                                  opened_text("\x95\x5c\x8e\xa6.txt") +
                                  block_text(1, "END2", "\xb1\xb2.txt", 1) + opened_text("\xb1\xb2.txt"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(folder.files(), (Files{{"表.form", form},
                                     {"ｱ.in", "a\nEND\nb\nEND2\n"},
                                     {"表示.txt", "a\nEND\n"},
                                     {"ｱｲ.txt", "b\nEND2\n"}}));
}

// The longest path counts once the name is made absolute and marked \\?\:
// past it, the system would open a name cut short, another file. It counts
// UTF-16 units, not bytes: 16,448 kanji are 32,896 bytes in code page 932,
// and within it.
TEST_F(WindowsSplit, NamesPastTheLongestPathAreRefused) {
    const std::string name(32765, 'w');
    const std::string form = "M\n" + name + "\n1\n";
    folder.write("form", form);
    folder.write("input", "a\nM\n");
    ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", name, 1) + cannot_open_text(name));
    EXPECT_EQ(result.errors, reason(name, "File name is too long"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(folder.files(), (Files{{"form", form}, {"input", "a\nM\n"}}));

    std::string kanji = "missing\\";
    for (int i = 0; i < 16440; ++i) kanji += "\x95\x5c";
    folder.write("form", "M\n" + kanji + "\n1\n");
    result = run({"form", "input"}, {ReportTo::pipe, {{"LC_ALL", "ja_JP.UTF-8"}}});
    folder.write("form", "M\nmissing\\x\n1\n");
    const ToolRun missing = run({"form", "input"}, {ReportTo::pipe, {{"LC_ALL", "ja_JP.UTF-8"}}});
    const std::string not_found = missing.errors.substr(missing.errors.rfind(": "));
    EXPECT_TRUE(result.errors.ends_with(not_found)) << not_found;
}

TEST_F(WindowsSplit, SameFileInAnotherSpellingIsRefused) {
    const std::string input = "a\nM\nb\n";
    fs::create_directory(folder.path() / "sub");
    folder.write("input", input);
    // Windows ignores letter case and a trailing dot in names.
    const std::vector<std::string> names = {"INPUT", ".\\Input", "sub\\..\\inPut", "input.",
                                            windows_path(folder.path() / "INPUT")};
    expect_each_refused_as_the_input(names, input);
    folder.write("form", "M\nFORM\n1\n");
    EXPECT_EQ(run({"form", "input"}).status, 1);
    EXPECT_EQ(folder.read("form"), "M\nFORM\n1\n");
}

TEST_F(WindowsSplit, OutputInMissingFolder) {
    expect_third_output_unopenable("missing\\three", system_words(ENOENT, "Path not found"));
}

TEST_F(WindowsSplit, NulDeviceTakesOutputs) {
    const std::string form = "M\nNUL\n1\nN\nnul\n2\n";
    folder.write("form", form);
    folder.write("input", "a\nM\nb\nN\n");
    const ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.console, preamble() + block_text(0, "M", "NUL", 1) + opened_text("NUL") +
                                  block_text(1, "N", "nul", 2) + opened_text("nul"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(folder.files(), (Files{{"form", form}, {"input", "a\nM\nb\nN\n"}}));
}

TEST_F(WindowsSplit, ReportLinesEndInCrLfWhateverTheEchoedBytes) {
    // The marker "X\r" (from "X\r\r\n") is echoed with its CR, then the
    // report's own line end.
    folder.write("form", "X\r\r\nout\n1\n");
    folder.write("input", "X\r\r\n");
    const ToolRun result = run({"form", "input"});
    EXPECT_NE(result.console_bytes.find("0\x81\x46X\r\r\n0\x81\x46out\r\n"), std::string::npos);
    EXPECT_EQ(folder.read("out"), "X\r\r\n");
}

}  // namespace
}  // namespace kerfline::testing
