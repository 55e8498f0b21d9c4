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
#include <optional>
#include <random>
#include <sstream>
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
using namespace std::string_literals;
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
struct Mount {
    Mount(const char* type, const fs::path& at, const std::string& options = "") : at(at) {
        EXPECT_EQ(::mount(type, at.c_str(), type, 0, options.c_str()), 0) << type << " on " << at;
    }
    ~Mount() { ::umount2(at.c_str(), MNT_DETACH); }
    Mount(const Mount&) = delete;
    const fs::path at;
};

struct Record { std::string marker, name; long long flag; };

// The report of a run that opened `opened`, then began each of `records`,
// opening its output unless its flag is 0.
std::string report(const std::vector<std::string>& opened, const std::vector<Record>& records = {}) {
    std::string text = banner_text;
    for (const std::string& path : opened) text += opened_text(path);
    for (std::size_t index = 0; index < records.size(); ++index) {
        const auto& [marker, name, flag] = records[index];
        text += block_text(static_cast<long long>(index), marker, name, flag);
        if (flag != 0) text += opened_text(name);
    }
    return text;
}

// The same, but the last record's output cannot be opened.
std::string refused(const std::vector<std::string>& opened, std::vector<Record> records) {
    const Record last = records.back();
    records.pop_back();
    return report(opened, records) +
           block_text(static_cast<long long>(records.size()), last.marker, last.name, last.flag) +
           cannot_open_text(last.name);
}

// One run in a fresh folder: the files it starts with (a name ending in "/"
// is a folder), its arguments, and all that must come of it.
struct Row {
    Files before;
    std::vector<std::string> arguments;
    std::string console;
    std::string errors;
    int status = 1;
    Files made = {};  // every file the run leaves besides `before`'s
    ToolOptions options = {};
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

    void empty_folder() {
        for (const auto& entry : fs::directory_iterator(folder.path())) fs::remove_all(entry.path());
    }

    // Runs each row and checks its report, reason, status and every file.
    void expect_rows(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(::testing::Message() << "row " << &row - rows.data() << ": "
                                              << ::testing::PrintToString(row.arguments));
            empty_folder();
            Files files = row.made;
            for (const auto& [name, bytes] : row.before) {
                fs::create_directories((folder.path() / name).parent_path());
                if (name.ends_with('@')) {  // a symbolic link to `bytes`
                    fs::create_symlink(bytes, folder.path() / name.substr(0, name.size() - 1));
                } else if (name.ends_with('|')) {  // a FIFO
                    ::mkfifo((folder.path() / name.substr(0, name.size() - 1)).c_str(), 0666);
                } else if (!name.ends_with('/')) {
                    folder.write(name, files[name] = bytes);
                }
            }
            const ToolRun result = run(row.arguments, row.options);
            EXPECT_EQ(result.console, row.console);
            EXPECT_EQ(result.errors, row.errors);
            EXPECT_EQ(result.status, row.status);
            EXPECT_EQ(folder.files(), files);
        }
    }

    // Runs `form` over `input` and checks the outcome against the model: the
    // report too when it comes back whole, through a pipe.
    // Every name below the folder, with a file's bytes, "/" for a folder.
    Files everything() const {
        Files found;
        for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
            const std::string name = fs::relative(entry.path(), folder.path()).string();
            found[name] = entry.is_directory() ? "/" : folder.read(name);
        }
        return found;
    }

    // Runs `form` over `input` and checks the outcome against the model: the
    // report too when it comes back whole, through a pipe. A dry run before
    // it changes nothing, and its plan says what the run then does: which
    // files it leaves, of what sizes, and its status.
    void expect_as_modelled(const std::string& form, const std::string& input,
                            const ToolOptions& options = {}) {
        empty_folder();
        folder.write("form", form);
        folder.write("input", input);
        const ModelRun expected = model_run(form, input);
        const Files before = everything();
        const ToolRun plan = run({"-n", "form", "input"}, options);
        EXPECT_EQ(everything(), before) << "a dry run changed the folder";
        const ToolRun actual = run({"form", "input"}, options);
        if (options.report_to == ReportTo::pipe) EXPECT_EQ(actual.console, expected.console);
        EXPECT_EQ(actual.status, expected.status);
        Files files = expected.outputs;
        files["form"] = form;
        files["input"] = input;
        EXPECT_EQ(folder.files(), files);
        if (options.report_to != ReportTo::pipe) return;
        // "N: NAME: write SIZE bytes...", "...: empty...", "...: cannot open: ..."; names here
        // hold no ": ".
        std::map<std::string, std::size_t> sizes = {{"form", form.size()}, {"input", input.size()}};
        std::istringstream lines(plan.console);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t name = line.find(": "), action = line.find(": ", name + 2);
            if (name == std::string::npos || action == std::string::npos || line.starts_with("plan")) continue;
            const std::string output = line.substr(name + 2, action - name - 2), what = line.substr(action + 2);
            if (what.starts_with("cannot open")) break;
            if (what.starts_with("write ")) sizes[output] = std::stoull(what.substr(6));
            if (what.starts_with("empty")) sizes[output] = 0;
        }
        std::map<std::string, std::size_t> made;
        for (const auto& [name, bytes] : folder.files()) made[name] = bytes.size();
        EXPECT_EQ(made, sizes) << plan.console;
        EXPECT_EQ(plan.status, actual.status);
    }

    // Runs the tool's `command_line` through Wine's shell, and reads back the
    // report and the reasons that its redirects send to "log" and "errors".
    ToolRun run_in_windows_shell(const std::string& command_line) {
        ToolOptions options{.command = tool_command()};
        const std::string program = windows_path(options.command.back());
        options.command.back() = "cmd";
        options.command.insert(options.command.end(), {"/c", program + " " + command_line});
        ToolRun result = run_tool(folder.path(), {}, options);
        for (auto [file, text] : {std::pair{"log", &result.console}, {"errors", &result.errors}}) {
            *text = folder.read(file);
            std::erase(*text, '\r');  // text mode's line ends
            fs::remove(folder.path() / file);
        }
        return result;
    }

    // Standard error's line for a failure.
    static std::string reason(const std::string& path, const std::string& words) {
        return "kerfline: " + path + ": " + words + "\n";
    }
    // A system error in the system's words: strerror's, or FormatMessage's under Wine.
    static std::string system_words(int error, const char* windows_words) {
        return testing_windows_build() ? windows_words : std::strerror(error);
    }

    std::string preamble() const { return report({"form", "input"}); }
};

// Runs that end as they must: report, reason, status and every file.
TEST_F(Split, EachRunEndsAsItMust) {
    const std::string missing_words = system_words(ENOENT, "File not found");
    // Paths past the 260 characters Windows allows a program that does not ask for
    // more: an output deep in folders and the form by its absolute path, echoed as typed.
    std::string deep;
    for (const char letter : {'a', 'b', 'c', 'd', 'e', 'f'}) deep += std::string(50, letter) + "/";
    std::string deep_name = deep;
    if (testing_windows_build()) std::replace(deep_name.begin(), deep_name.end(), '/', '\\');
    const fs::path deep_form = folder.path() / (deep + "form");
    const std::string deep_form_path = testing_windows_build() ? windows_path(deep_form) : deep_form.string();
    const std::string four = "A\none\n1\nB\ntwo\n2\nC\nmissing/three\n1\nD\nfour\n1\n";
    const std::string four_input = "a\nA\nb\nB\nc\nC\nd\nD\n";
    expect_rows({
        // Other than two arguments: the usage text, and nothing touched.
        {{}, {}, usage_text, "", 0},
        {{}, {"form"}, usage_text, "", 0},
        {{}, {"form", "input", "extra"}, usage_text, "", 0},
        {{{"form", "=== A ===\na.txt\n1\n=== B ===\nb.txt\n0\n"},
          {"input", "a1\na2\n=== A ===\nb1\n=== B ===\nrest\n"}},
         {"form", "input"},
         report({"form", "input"}, {{"=== A ===", "a.txt", 1}, {"=== B ===", "b.txt", 0}}), "", 0,
         {{"a.txt", "a1\na2\n=== A ===\n"}}},
        {{}, {"no-form", "no-input"}, report({}) + cannot_open_text("no-form"),
         reason("no-form", missing_words)},
        {{{"form", "M\nout\n1\n"}}, {"form", "./no-input"},
         report({"form"}) + cannot_open_text("./no-input"), reason("./no-input", missing_words)},
        // The reason stays one line: a control byte of the path is escaped there, only there.
        {{{"form", "M\nout\n1\n"}}, {"form", "no\nsuch\t\x1b"},
         report({"form"}) + cannot_open_text("no\nsuch\t\x1b"),
         reason("no\\nsuch\\t\\x1b", system_words(ENOENT, "Invalid name"))},
        {{{"dir/", ""}}, {"dir", "input"}, report({}) + cannot_open_text("dir"),
         reason("dir", "Is a directory")},
        {{{"dir/", ""}, {"form", "M\ndir\n1\n"}}, {"form", "dir"},
         report({"form"}) + cannot_open_text("dir"), reason("dir", "Is a directory")},
        {{{"dir/", ""}, {"form", "M\ndir\n1\n"}, {"input", "M\n"}}, {"form", "input"},
         refused({"form", "input"}, {{"M", "dir", 1}}), reason("dir", "Is a directory")},
        // Two outputs complete and closed when the third cannot be opened; the fourth unread.
        {{{"form", four}, {"input", four_input}}, {"form", "input"},
         refused({"form", "input"}, {{"A", "one", 1}, {"B", "two", 2}, {"C", "missing/three", 1}}),
         reason("missing/three", system_words(ENOENT, "Path not found")), 1,
         {{"one", "a\nA\n"}, {"two", ""}}},
        {{{"form", "M\n./form\n1\n"}, {"input", "a\nM\n"}}, {"form", "input"},
         refused({"form", "input"}, {{"M", "./form", 1}}),
         reason("./form", "the output is the form file")},
        // Form and input may be one file.
        {{{"form", "M\nout\n1\n"}}, {"form", "form"}, report({"form", "form"}, {{"M", "out", 1}}),
         "", 0, {{"out", "M\n"}}},
        // NUL is an ordinary byte, but no name can hold it.
        {{{"form", "a\0b\nout\0put\n1\n"s}, {"input", "a\nx\0y\na\0b\nrest\0\n"s}}, {"form", "input"},
         refused({"form", "input"}, {{"a\0b"s, "out\0put"s, 1}}),
         reason("out\\x00put", "the name holds a NUL byte")},
        // A dry run touches nothing and plans every record: what a run would do and what
        // is worth knowing first, every refusal at once, the input no record reads, a sum.
        {{{"form", "A\nold\n1\nB\nnew\n1\nC\n./new\n2\nD\ndir\n1\nE\nmissing/x\n1\nnever\ninput\n0\n"
                   "F\ninput\n1\n"},
          {"input", "a\nA\nb\nB\nc\nC\nd\n"}, {"old", "old\n"}, {"dir/", ""}},
         {"-n", "form", "input"},
         report({"form", "input"}) + "0: old: write 4 bytes, to line 2; replaces 4 bytes\n"
             "1: new: write 4 bytes, to line 4\n2: ./new: empty; empties record 1's file\n"
             "3: dir: cannot open: Is a directory\n4: missing/x: cannot open: " + system_words(ENOENT, "Path not found") +
             "\n5: input: skip, marker not found\n6: input: cannot open: the output is the input file\n"
             "rest: 0 bytes read by no record\n"
             "plan: files created 1, replaced 1, emptied 0; bytes written 8; a run stops at record 3, status 1\n",
         reason("dir", "Is a directory")},
        {{{deep + "form", "M\n" + deep_name + "out\n1\n"}, {"input", "a\nM\n"}},
         {deep_form_path, "input"},
         report({deep_form_path, "input"}, {{"M", deep_name + "out", 1}}), "", 0,
         {{deep + "out", "a\nM\n"}}},
    });
}

// Memory stays bounded, however long the lines: an input line is written as it comes;
// a form's marker or name costs its own length once, only while its record lasts; a
// flag line is never held.
TEST_F(Split, MemoryStaysBoundedWhateverTheLines) {
    if (testing_sanitized_build()) GTEST_SKIP() << "sanitizers keep memory of their own";
    // Longer than the 16 MiB the run must stay below, so a run that held it would show;
    // then 300,000 records that copy nothing, whose 13 MB of report go out as they come.
    // Written and dropped before the run: a forked child counts its parent's memory too.
    constexpr std::size_t huge = 20 * 1024 * 1024;
    std::string skipped;
    for (int i = 0; i < 300000; ++i) skipped += "M\nskipped\n0\n";
    folder.write("form", "never\nout\n1\n" + skipped);
    folder.write("input", std::string(huge, 'y'));
    const ToolRun streamed = run({"form", "input"});
    EXPECT_EQ(streamed.status, 0);
    if (!testing_under_emulator()) EXPECT_LT(streamed.max_rss_kib, 16 * 1024);
    EXPECT_EQ(folder.read("out"), std::string(huge, 'y'));

    // What the tool needs of its own: the same run with short lines.
    folder.write("form", "m\nout\n1\nrest\nmissing/n\n1\n");
    folder.write("input", "a\nm\nrest\n");
    const long own_kib = run({"form", "input"}).max_rss_kib;
    // Each far longer than the read-ahead, and long enough that one more held would show.
    constexpr std::size_t size = 4 * 1024 * 1024;
    const std::string m(size, 'm'), n(size, 'n');
    folder.write("form", m + "\nout\n1\nrest\n" + n + "\n1" + std::string(size, '0') + "\n");
    folder.write("input", "a\n" + m.substr(1) + "x\n" + m + "\nrest\n");
    ::malloc_trim(0);  // and what it has freed
    const ToolRun result = run({"form", "input"});
    EXPECT_EQ(result.errors, reason(n, system_words(ENAMETOOLONG, "File name is too long")));
    // Its own, one long line at a time, and half a line for buffers the short run did
    // not fill: well below the 16 MiB plus longest marker and name the tool promises.
    if (!testing_under_emulator()) EXPECT_LT(result.max_rss_kib, own_kib + 3 * size / 2 / 1024);
    EXPECT_EQ(folder.read("out"), "a\n" + m.substr(1) + "x\n" + m + "\n");
}

// Memory that runs out ends the run with status 1 and says so, before the first
// record or on a form line too long for it.
TEST_F(Split, RunningOutOfMemoryIsAFailureThatSaysSo) {
    if (testing_sanitized_build()) GTEST_SKIP() << "sanitizers reserve more address space than the limit allows";
    if (testing_under_emulator()) GTEST_SKIP() << "the limit would fall on the emulator";
    folder.write("form", "M\nout\n1\n");
    folder.write("input", "m\n");
    ToolOptions options;
    auto run_within = [&](std::size_t kib) {
        options.address_space_limit = kib * 1024;
        return run_tool(folder.path(), {"form", "input"}, options);
    };
    // Halved in 16 KiB steps to the floor where the loader can map the program (not 127).
    constexpr std::size_t step = 16;
    std::size_t too_small = 1024 / step - 1, floor = 64 * 1024 / step;
    while (floor - too_small > 1) {
        const std::size_t middle = (too_small + floor) / 2;
        (run_within(middle * step).status == 127 ? too_small : floor) = middle;
    }
    // Every limit from there to one the run fits in: below it, no record is begun.
    ToolRun result;
    std::size_t out_of_memory = 0, kib = floor * step;
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
    EXPECT_EQ(result.console, report({"form", "input"}, {{"M", "out", 1}}));

    // With 8 MiB to spare, a marker line as long as the whole limit.
    options.address_space_limit = (kib + 8 * 1024) * 1024;
    folder.write("form", std::string(options.address_space_limit, 'm') + "\nout\n1\n");
    result = run({"form", "input"}, options);
    EXPECT_EQ(result.console, preamble() + cannot_read_text("form"));
    EXPECT_EQ(result.errors, reason("form", "a form line too long for memory"));
    EXPECT_EQ(result.status, 1);
}

// Past 2 GiB a 32-bit build needs 64-bit offsets to open and to write: a
// sparse input with markers past 2 and 4 GiB, and a first section of more
// than 2 GiB. KERFLINE_TEST_LARGE_FILES names a build folder that keeps the
// input sparse (the temporary folder may be memory); only 32-bit builds
// set it: a 64-bit build would pay 2 GiB of writes on every run for nothing.
TEST_F(Split, InputsAndOutputsPastFourGiB) {
    if (large_file_folder().empty()) GTEST_SKIP() << "runs against 32-bit builds only";
    constexpr std::uintmax_t gib = std::uintmax_t{1} << 30;
    const ScratchFolder large(large_file_folder());
    const fs::path input = large.path() / "input";
    large.write("input", "");
    for (const auto& [offset, bytes] : {std::pair{2 * gib + 1, "\nA\n"}, {4 * gib + 1, "\nB\nlast\n"}}) {
        fs::resize_file(input, offset);  // a hole, read as NUL bytes
        std::ofstream(input, std::ios::binary | std::ios::app) << bytes;
    }
    large.write("form", "A\nbig\n1\nB\nskipped\n0\nnever\nrest\n1\n");
    const ToolRun result = run_tool(large.path(), {"form", "input"});
    EXPECT_EQ(result.errors, "");
    EXPECT_EQ(result.console, report({"form", "input"}, {{"A", "big", 1}, {"B", "skipped", 0},
                                                         {"never", "rest", 1}}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(fs::file_size(large.path() / "big"), 2 * gib + 4);
    std::string end_of_big(4, '?');
    std::ifstream(large.path() / "big", std::ios::binary).seekg(-4, std::ios::end).read(end_of_big.data(), 4);
    EXPECT_EQ(end_of_big, "\0\nA\n"s);
    EXPECT_FALSE(fs::exists(large.path() / "skipped"));
    EXPECT_EQ(large.read("rest"), "last\n");
}

// Lines match whatever their line ends, and outputs keep every byte.
TEST_F(Split, LinesMatchAsTheyShouldAndOutputsKeepEveryByte) {
    for (const auto& [form, input] : std::vector<std::pair<std::string, std::string>>{
             // NUL is an ordinary byte, in markers and in the input.
             {"a\0b\nout\n1\n"s, "a\nx\0y\na\0b\nrest\0\n"s},
             // A form written on Windows over an input written on Linux, and back.
             {"END\r\none.txt\r\n1\r\n\r\ntwo.txt\r\n1\r\n", "a\nEND\nb\n\nc\n"},
             {"END\none.txt\n1\n\ntwo.txt\n1\n", "a\r\nEND\r\nb\r\n\r\nc\r\n"},
             // Only one CR belongs to the line end; a lone CR and 1A are bytes.
             {"END\r\r\nout\r\n1\r\n", "END\r\nEND\r\r\r\nEND\r\r\nx\x1a\ry\n"},
             // A last line ending in CR never matches.
             {"END\nout\n1\n", "a\nEND\r"}}) {
        SCOPED_TRACE(::testing::PrintToString(form));
        expect_as_modelled(form, input);
    }
}

// However an output names the input (another spelling, a link, an overlay mount's
// folders, copied up or not, with xino or without), it is refused before a byte of it
// changes, and so is the form and the log appended to through an overlay; strangers that
// share only an index on two file systems are not.
TEST_F(Split, NeverWritesOverItsInputHoweverNamed) {
    const std::string input = "a\nM\n", at = folder.path().string() + "/";
    const std::string same = "the output is the input file";
    fs::create_directory(at + "sub");
    folder.write("input", input);
    fs::create_hard_link(at + "input", at + "hard");
    // The input's name, the output's, where the report goes, the reason if refused, and
    // the form's name.
    struct Named {
        std::string input, output;
        ToolOptions options;
        std::string why, form = "form";
    };
    std::vector<Named> rows = {
        {"input", "sub/../input", {}, same}, {"input", "hard", {}, same}, {"input", at + "input", {}, same}};
    std::optional<Mount> overlay, one, two, three, tmpfs, xino;
    // A Linux symlink or mount is none to Windows; Wine would only follow it.
    if (!testing_windows_build()) {
        fs::create_symlink("input", at + "soft");
        rows.push_back({"input", "soft", {}, same});
    }
    if (!testing_windows_build() && own_mount_namespace()) {
        for (const char* name : {"lower", "upper", "work", "merged", "one", "two", "three", "xt", "xupper",
                                 "xwork", "xmerged"}) {
            fs::create_directory(at + name);
        }
        for (const char* name : {"lower/input", "lower/copied"}) folder.write(name, input);
        for (const char* name : {"lower/log", "lower/log2", "lower/log3", "lower/form"}) folder.write(name, "old\n");
        overlay.emplace("overlay", at + "merged", "lowerdir=" + at + "lower,upperdir=" + at + "upper,workdir=" + at + "work");
        // With a lower folder on another file system and xino, an overlay shows its own
        // inode numbers.
        tmpfs.emplace("tmpfs", at + "xt");
        fs::create_directory(at + "xt/lower");
        folder.write("xt/lower/input", input);
        xino.emplace("overlay", at + "xmerged",
                     "lowerdir=" + at + "xt/lower,upperdir=" + at + "xupper,workdir=" + at + "xwork,xino=on");
        ::close(::open((at + "merged/copied").c_str(), O_RDWR));  // copied up, not a byte changed
        one.emplace("tmpfs", at + "one");
        two.emplace("tmpfs", at + "two");
        three.emplace("tmpfs", at + "three");
        folder.write("one/input", input);
        // The first file of each: one index, and the same size at another time, or
        // the same time and another size.
        folder.write("two/twin", "b\nM\n");
        fs::last_write_time(at + "two/twin", fs::last_write_time(at + "one/input") - std::chrono::seconds(1));
        folder.write("three/other", "bb\nM\n");
        fs::last_write_time(at + "three/other", fs::last_write_time(at + "one/input"));
        const std::string of_the_report = "the output is the file the report goes to";
        rows.insert(rows.end(), {
            {"merged/input", "lower/input", {}, same},
            // Not copied up, it would be when the output opens; copied up, the merged file
            // and the upper one have indexes of their own.
            {"merged/input", "upper/input", {}, same},
            {"merged/copied", "upper/copied", {}, same},
            {"upper/copied", "merged/copied", {}, same},
            {"upper/copied", "lower/copied", {}, same},
            {"xmerged/input", "xt/lower/input", {}, same},
            {"input", "upper/form", {}, "the output is the form file", "merged/form"},
            // A log appended to as the run goes, and the copy an overlay makes of it.
            {"input", "lower/log", {.report_to = ReportTo::file_appended, .report_file = at + "merged/log"},
             of_the_report},
            {"input", "merged/log2", {.report_to = ReportTo::file_appended, .report_file = at + "lower/log2"},
             of_the_report},
            {"input", "upper/log3", {.report_to = ReportTo::file_appended, .report_file = at + "merged/log3"},
             of_the_report},
            {"one/input", "two/twin", {}, ""},
            {"one/input", "three/other", {}, ""}});
    }
    for (const auto& [input_name, output, options, why, form_name] : rows) {
        SCOPED_TRACE(output);
        folder.write(form_name, "M\n" + output + "\n1\n");
        const auto read = [&] { return fs::exists(folder.path() / output) ? folder.read(output) : ""; };
        const std::string was = read();
        const ToolRun result = run({form_name, input_name}, options);
        const std::vector<std::string> opened = {form_name, input_name};
        EXPECT_EQ(result.console, (options.report_file.empty() ? "" : "old\n") +
                                      (why.empty() ? report(opened, {{"M", output, 1}})
                                                   : refused(opened, {{"M", output, 1}})));
        EXPECT_EQ(result.errors, why.empty() ? "" : reason(output, why));
        EXPECT_EQ(result.status, why.empty() ? 0 : 1);
        // A log's other name shows it as the overlay copied it, report and all.
        if (!options.report_file.empty()) continue;
        EXPECT_EQ(read(), why.empty() ? input : was);
        EXPECT_EQ(fs::exists(folder.path() / output), why.empty() || !was.empty()) << "refused, yet made";
    }
}

// Standard output and error sent to files are guarded like the form and the
// input, however an output names them: the section and the report would
// share one file. A pipe is no file, and takes a section, after the report
// of its record.
TEST_F(Split, NeverWritesOverItsReportOrItsReasons) {
    folder.write("input", "a\nM\n");
    // Arguments, the form's output (none: an argument is refused) and the reason;
    // standard output goes to "log", standard error to "errors".
    for (const auto& [form_name, input_name, output, why] : std::vector<std::array<std::string, 4>>{
             {"form", "input", "log", "the output is the file the report goes to"},
             {"form", "input", "errors", "the output is the file standard error goes to"},
             {"form", "input", "input", "the output is the input file"},  // a fourth file guarded
             {"log", "input", "", "the report goes to this file"},
             {"form", "log", "", "the report goes to this file"},
             {"errors", "input", "", "standard error goes to this file"}}) {
        SCOPED_TRACE(form_name + " " + input_name + " " + output);
        const std::string form = "M\n" + output + "\n1\n";
        folder.write("form", form);
        const std::string refused_name =
            !output.empty() ? output : form_name == "form" ? input_name : form_name;
        const std::string console =
            !output.empty() ? refused({"form", "input"}, {{"M", output, 1}})
                            : banner_text + (form_name == "form" ? opened_text("form") : "") +
                                  cannot_open_text(refused_name);
        // Wine's shell makes the redirects Windows files with an identity; Linux's cannot.
        const ToolRun result =
            testing_windows_build()
                ? run_in_windows_shell(form_name + " " + input_name + " > log 2> errors")
                : run({form_name, input_name}, {.report_to = ReportTo::file,
                                                .report_file = folder.path() / "log",
                                                .errors_file = folder.path() / "errors"});
        EXPECT_EQ(result.console, console);
        EXPECT_EQ(result.errors, reason(refused_name, why));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(folder.read("input"), "a\nM\n");
        EXPECT_EQ(folder.read("form"), form);
    }
}

// Devices, /proc, closed standard streams and the file-size limit, as Linux has them.
TEST_F(Split, SystemFilesAndLimitsBehaveAsTheyDo) {
    if (testing_windows_build()) {
        GTEST_SKIP() << "Windows has no /dev files (NUL is a Windows case), no /proc/self/mem nor "
                        "another file that opens and fails its first read, and no file-size limit";
    }
    // Run as root, the tool would create a missing device as a plain file.
    for (const char* device : {"/dev/null", "/dev/full"}) {
        if (!fs::is_character_file(device)) GTEST_SKIP() << device << " is not a device here";
    }
    const std::string devices = "M\n/dev/null\n1\nN\n/dev/full\n2\nO\n/dev/full\n1\n";
    const std::string input = "a\nM\nb\nN\nc\nO\n";
    const std::string big(200 * 1024 - 1, 'x');
    constexpr std::size_t limit = 100 * 1024;
    const ScratchFolder logs;
    std::vector<Row> rows = {
        {{{"form", devices}, {"input", input}}, {"form", "input"},
         report({"form", "input"}, {{"M", "/dev/null", 1}, {"N", "/dev/full", 2}, {"O", "/dev/full", 1}}) +
             cannot_write_text("/dev/full"),
         reason("/dev/full", std::strerror(ENOSPC))},
        // An empty section writes nothing, so even a full device takes it.
        {{{"form", "O\nskipped\n0\nM\n/dev/full\n1\n"}, {"input", input}}, {"form", "input"},
         report({"form", "input"}, {{"O", "skipped", 0}, {"M", "/dev/full", 1}}), "", 0},
        // /proc/self/mem opens but fails at its first read.
        {{{"form", "M\nout\n1\n"}}, {"form", "/proc/self/mem"},
         report({"form", "/proc/self/mem"}, {{"M", "out", 1}}) + cannot_read_text("/proc/self/mem"),
         reason("/proc/self/mem", std::strerror(EIO)), 1, {{"out", ""}}},
        {{{"input", "M\n"}}, {"/proc/self/mem", "input"},
         report({"/proc/self/mem", "input"}) + cannot_read_text("/proc/self/mem"),
         reason("/proc/self/mem", std::strerror(EIO))},
        // A file-size limit fails a write, not the run.
        {{{"form", "M\nbig\n1\nN\nsmall\n1\n"}, {"input", big + "\nM\nN\n"}}, {"form", "input"},
         report({"form", "input"}, {{"M", "big", 1}}) + cannot_write_text("big"),
         reason("big", std::strerror(EFBIG)), 1, {{"big", big.substr(0, limit)}},
         {.file_size_limit = limit}},
        // A closed standard input or output is no file to open.
        {{{"form", "M\n/dev/stdout\n1\n"}}, {"form", "/dev/stdin"},
         report({"form"}) + cannot_open_text("/dev/stdin"), reason("/dev/stdin", std::strerror(ENOENT)),
         1, {}, {.input_closed = true}},
        // /dev/stdout is the report's file when that is a file, and a pipe's section
        // comes after its record's report.
        {{{"form", "M\n/dev/stdout\n1\n"}, {"input", "a\nM\n"}}, {"form", "input"},
         refused({"form", "input"}, {{"M", "/dev/stdout", 1}}),
         reason("/dev/stdout", "the output is the file the report goes to"), 1, {},
         {.report_to = ReportTo::file, .report_file = logs.path() / "log"}},
        {{{"form", "M0\n/dev/stdout\n1\nM1\n/dev/stdout\n1\n"}, {"input", "s0\nM0\ns1\nM1\n"}},
         {"form", "input"},
         report({"form", "input"}, {{"M0", "/dev/stdout", 1}}) + "s0\nM0\n" +
             block_text(1, "M1", "/dev/stdout", 1) + opened_text("/dev/stdout") + "s1\nM1\n",
         "", 0},
        // Nor may the report, with its own stream closed, land in an output.
        {{{"form", "M\n/dev/stdout\n1\n"}, {"input", "a\nM\n"}}, {"form", "input"}, "",
         reason("/dev/stdout", std::strerror(ENOENT)), 1, {}, {.report_to = ReportTo::closed}},
        // A dry run names devices and FIFOs, waits on no FIFO, follows a dangling link to
        // where a run would make its file, and sees a closed stream as a run does.
        {{{"form", "M\n/dev/null\n1\nN\nfifo\n1\nO\nlink\n1\nP\nlater\n2\n"}, {"input", "a\nM\nb\nN\nc\nO\n"},
          {"fifo|", ""}, {"link@", "later"}},
         {"-n", "form", "input"},
         report({"form", "input"}) + "0: /dev/null: write 4 bytes, to line 2; a character device\n"
             "1: fifo: write 4 bytes, to line 4; a FIFO\n2: link: write 4 bytes, to line 6\n"
             "3: later: empty, marker not found; empties record 2's file\nrest: 0 bytes read by no record\n"
             "plan: files created 1, replaced 0, emptied 0; bytes written 12\n",
         "", 0},
        {{{"form", "M\n/dev/stdout\n1\n"}, {"input", "a\nM\n"}}, {"-n", "form", "input"}, "",
         reason("/dev/stdout", std::strerror(ENOENT)), 1, {}, {.report_to = ReportTo::closed}},
        // Standard output and error, pipes or a terminal, are not read back as a form or
        // an input: the run would never end. A device gives back nothing it was given.
        {{{"form", "M\nout\n0\n"}}, {"form", "/dev/null"}, "", "", 0, {},
         {.report_to = ReportTo::file, .report_file = "/dev/null"}},
        {{{"form", "M\nout\n1\n"}}, {"form", "/dev/stdout"}, report({"form"}) + cannot_open_text("/dev/stdout"),
         reason("/dev/stdout", "the report goes to this file"), 1, {}, {.time_limit_seconds = 10}},
        {{{"input", "a\nM\n"}}, {"/proc/self/fd/2", "input"}, report({}) + cannot_open_text("/proc/self/fd/2"),
         reason("/proc/self/fd/2", "standard error goes to this file"), 1, {}, {.time_limit_seconds = 10}},
        {{{"input", "a\nM\n"}}, {"/dev/stdout", "input"}, report({}) + cannot_open_text("/dev/stdout"),
         reason("/dev/stdout", "the report goes to this file"), 1, {},
         {.report_to = ReportTo::terminal, .environment = {{"LC_ALL", "C"}}, .time_limit_seconds = 10}},
    };
    // The sanitizers' runtime and an emulator need descriptors of their own.
    if (!testing_under_emulator() && !testing_sanitized_build()) {
        // Then the form takes descriptor 0 and cannot leave it for a higher one.
        rows.push_back({{{"form", "M\n/dev/stdout\n1\n"}}, {"form", "/dev/stdin"},
                        report({}) + cannot_open_text("form"), reason("form", std::strerror(EMFILE)),
                        1, {}, {.open_file_limit = 3, .input_closed = true}});
        // An output past the limit of open files is no file left behind, even one that a
        // dangling link would create, with standard output closed.
        rows.push_back({{{"form", "M\nout\n1\n"}, {"input", "a\nM\n"}}, {"form", "input"},
                        refused({"form", "input"}, {{"M", "out", 1}}),
                        reason("out", std::strerror(EMFILE)), 1, {},
                        {.open_file_limit = 5, .input_closed = true}});
        rows.push_back({{{"form", "M\nlink\n1\n"}, {"input", "a\nM\n"}, {"link@", "target"}}, {"form", "input"},
                        "", reason("link", std::strerror(EMFILE)), 1, {},
                        {.report_to = ReportTo::closed, .open_file_limit = 5}});
    }
    expect_rows(rows);

    // An input cut short under the run, as a log rotated by copying and truncating it,
    // fails as a read does: what follows would be another file's bytes. The input is cut
    // while the run writes its first section to a FIFO, past what the FIFO holds.
    const std::string x(100 * 1024, 'x'), fifo = (folder.path() / "fifo").string();
    folder.write("form", "A\nfifo\n1\nB\ntwo\n1\n");
    folder.write("input", x + "\nA\n" + x + x + x + "\nB\n");
    ::mkfifo(fifo.c_str(), 0666);
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        char bytes[4096];
        for (ssize_t got = ::read(fd, bytes, sizeof bytes); got > 0; got = ::read(fd, bytes, sizeof bytes)) {
            if (fs::file_size(folder.path() / "input") != 0) fs::resize_file(folder.path() / "input", 0);
        }
        ::close(fd);
    });
    const ToolRun cut = run({"form", "input"});
    reader.join();
    EXPECT_EQ(cut.console, report({"form", "input"}, {{"A", "fifo", 1}, {"B", "two", 1}}) + cannot_read_text("input"));
    EXPECT_EQ(cut.errors, reason("input", "the file shrank while it was read"));
    EXPECT_EQ(cut.status, 1);
    EXPECT_TRUE((x + x + x).starts_with(folder.read("two")));
}

// Some 140 KB of report, past the console's buffer and a pipe's, that no
// one reads or that the file-size limit cuts short: the split goes on to its end.
TEST_F(Split, AGoneConsoleNeverStopsTheSplit) {
    std::string input;
    std::string form;
    for (int i = 0; i < 2000; ++i) {
        input += "line " + std::to_string(i) + "\nM\n";
        form += "M\nout" + std::to_string(i) + (i % 500 == 499 ? "\n1\n" : "\n0\n");
    }
    for (ReportTo report_to : {ReportTo::pipe_closed_at_once, ReportTo::closed}) {
        expect_as_modelled(form, input, {report_to});
    }
    if (testing_windows_build()) GTEST_SKIP() << "Windows has no file-size limit";
    const ScratchFolder logs;
    constexpr std::size_t limit = 100 * 1024;
    expect_as_modelled(form, input, {.report_to = ReportTo::file, .file_size_limit = limit,
                                     .report_file = logs.path() / "log"});
    EXPECT_EQ(logs.read("log").size(), limit);
}

// A log follows the run: while the tool waits, for the input, the form or an output
// that is a FIFO, with or without a reader, the log holds the report of every record
// begun, not only when the run ends; and so it does when a stop from outside ends it.
TEST_F(Split, RedirectedReportKeepsUpWhateverTheToolWaitsFor) {
    if (testing_windows_build()) {
        GTEST_SKIP() << "Wine reads a Linux FIFO as a disk file; a Windows pipe is another object";
    }
    const ScratchFolder logs;
    ToolOptions to_log{.report_to = ReportTo::file, .report_file = logs.path() / "log"};
    // The FIFO `name` gets `before` from a writer, or has a reader that opens it before
    // the run or once the tool waits for one; either holds back until the log reads
    // `waiting`, then writes `after` or returns what it reads.
    enum class OtherEnd { writer, reader, reader_first };
    auto run_stalled = [&](const std::string& name, OtherEnd other_end, const std::string& before,
                           const std::string& after, const std::string& waiting) {
        const std::string fifo = (folder.path() / name).string();
        fs::remove(fifo);
        ::mkfifo(fifo.c_str(), 0666);
        int fd = other_end == OtherEnd::reader_first ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
        bool seen_while_waiting = false;
        std::string written;
        std::thread other([&] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            for (; other_end == OtherEnd::writer && fd < 0 && std::chrono::steady_clock::now() < deadline;
                 std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
                fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            }
            ::write(fd, before.data(), before.size());
            while (!(seen_while_waiting = logs.read("log") == waiting) && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (other_end == OtherEnd::writer) ::write(fd, after.data(), after.size());
            // Not waiting where the tool never waited for a reader: it may never open.
            if (other_end != OtherEnd::writer && fd < 0) fd = ::open(fifo.c_str(), O_RDONLY | (seen_while_waiting ? 0 : O_NONBLOCK));
            ::fcntl(fd, F_SETFL, 0);
            char bytes[4096];
            for (ssize_t n; other_end != OtherEnd::writer && (n = ::read(fd, bytes, sizeof bytes)) > 0;) {
                written.append(bytes, n);
            }
            ::close(fd);
        });
        EXPECT_EQ(run({"form", "input"}, to_log).status, 0);
        other.join();
        EXPECT_TRUE(seen_while_waiting) << name << ": " << logs.read("log");
        fs::remove(fifo);  // an ordinary file again next
        return written;
    };
    const std::string first_records = report({"form", "input"}, {{"A", "one", 1}});
    folder.write("form", "A\none\n1\nB\ntwo\n1\n");
    run_stalled("input", OtherEnd::writer, "a\nA\nb\n", "B\n",
                first_records + block_text(1, "B", "two", 1) + opened_text("two"));
    // The second section is in the input's buffer: only a read of the form writes its block.
    folder.write("input", "a\nA\nb\nB\n");
    run_stalled("form", OtherEnd::writer, "A\none\n1\nB\nskipped\n0\n", "C\nthree\n2\n",
                first_records + block_text(1, "B", "skipped", 0));
    EXPECT_EQ(folder.files(),
              (Files{{"input", "a\nA\nb\nB\n"}, {"one", "a\nA\n"}, {"two", "b\nB\n"}, {"three", ""}}));
    folder.write("form", "A\none\n1\nB\nfifo\n1\n");
    EXPECT_EQ(run_stalled("fifo", OtherEnd::reader, "", "", first_records + block_text(1, "B", "fifo", 1)),
              "b\nB\n");
    // Many records at once, then a FIFO that takes more than it holds once the log is whole;
    // then many more, and a stop from outside.
    std::string form, input;
    for (int i = 0; i < 20000; ++i) {
        form += "M\nout/" + std::to_string(i) + "\n1\n";
        input += i < 500 ? "M\n" : "line\nM\n";
    }
    const std::string section = std::string(256 * 1024, 'x') + "\nM\n";
    folder.write("form", form.substr(0, form.find("M\nout/500\n")) + "M\nfifo\n1\n");
    folder.write("input", input.substr(0, 1000) + section);
    fs::create_directory(folder.path() / "out");
    EXPECT_EQ(run_stalled("fifo", OtherEnd::reader_first, "", "",
                          model_run(folder.read("form"), folder.read("input")).console),
              section);

}

// A stop from outside ends the run as its signal ends a program, the log holding whole
// messages, the block of every output on disk among them; at once when no one reads the
// report, which leaves the pipe as the shell had it; not at all when the stop was ignored
// from the start (nohup, trap '' HUP). Under Wine SIGINT comes as Ctrl+C.
TEST_F(Split, StopsEndTheRunWithWholeMessages) {
    std::string form, input;
    for (int i = 0; i < 20000; ++i) {
        form += "M\nout/" + std::to_string(i) + "\n1\n";
        input += "line\nM\n";
    }
    const ScratchFolder logs;
    const fs::path out = folder.path() / "out";
    struct Stop { ReportTo report_to; std::vector<int> ignored, sent; };
    std::vector<Stop> stops = {{ReportTo::file, {}, {SIGINT}}};
    if (!testing_windows_build()) {
        stops.insert(stops.end(), {{ReportTo::file, {}, {SIGTERM}}, {ReportTo::file, {}, {SIGHUP}},
                                   {ReportTo::pipe_unread, {}, {SIGTERM}}, {ReportTo::closed, {}, {SIGTERM}},
                                   {ReportTo::file, {SIGHUP, SIGINT}, {SIGHUP, SIGINT}}});
    }
    for (const auto& [report_to, ignored, sent] : stops) {
        SCOPED_TRACE("signal " + std::to_string(sent.front()) + (ignored.empty() ? "" : ", ignored"));
        // A run that goes on to its end makes 2,000 files, not 20,000.
        const std::size_t cut = ignored.empty() ? form.size() : form.find("M\nout/2000\n");
        folder.write("form", form.substr(0, cut));
        folder.write("input", input);
        const std::string whole = model_run(form.substr(0, cut), input).console;
        fs::remove_all(out);
        fs::create_directory(out);
        const auto count = [&] { return std::distance(fs::directory_iterator(out), {}); };
        const ToolOptions options{
            .report_to = report_to, .report_file = logs.path() / "log", .ignored_signals = ignored,
            .time_limit_seconds = 10, .while_running = [&](int pid) {
                // Past the 600th output, and for an unread report until it stalls.
                for (long seen = -1; count() <= 600 || (report_to == ReportTo::pipe_unread && seen != count());) {
                    seen = count();
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                }
                for (const int stop : sent) ::kill(pid, stop);
            }};
        const ToolRun result = run_tool(folder.path(), {"form", "input"}, options);
        if (!ignored.empty()) {
            EXPECT_EQ(result.status, 0);
            EXPECT_EQ(logs.read("log"), whole);
            continue;
        }
        if (!testing_windows_build()) EXPECT_EQ(result.stopped_by, sent.front());
        if (report_to == ReportTo::pipe_unread) {
            EXPECT_FALSE(result.report_left_non_blocking);
            continue;
        }
        // With standard output closed, the report goes nowhere, not into an output.
        if (report_to == ReportTo::closed) {
            for (const auto& [name, bytes] : folder.files()) EXPECT_EQ(bytes.find("#####"), std::string::npos) << name;
            continue;
        }
        const std::string log = result.console;
        const std::string rest = whole.substr(std::min(log.size(), whole.size()));
        const long last = static_cast<long>(count()) - 1;
        EXPECT_TRUE(whole.starts_with(log) && (rest.empty() || rest.starts_with("#####") || rest.starts_with("out/")))
            << "not whole messages: " << rest.substr(0, 40);
        EXPECT_NE(log.find(block_text(last, "M", "out/" + std::to_string(last), 1)), std::string::npos) << last;
    }
}

// A person at a terminal, or at a Windows console (under Wine, one on a terminal),
// sees the report in its own characters, UTF-8 on a terminal whose locale names it,
// and nothing of a form's acts on the screen; pipes and files get the bytes.
TEST_F(Split, ScreensShowTheReportSafelyPipesGetItsBytes) {
    const std::string steering = "\x1b]0;owned\x07\x1b[2J", kanji = "\x95\x5c\x8e\xa6";  // 表示
    const std::string name = testing_windows_build() ? "b" : "a\rb";
    folder.write("form", steering + "\nout\n1\n" + kanji + "\n" + name + "\n1\n");
    folder.write("input", "a\n" + steering + "\nb\n" + kanji + "\n");
    const std::string shown_steering = "\\x1b]0;owned\\x07\\x1b[2J";
    auto utf8 = [&](const std::string& marker, const std::string& shown_name) {
        return "【kerfline start】\nform open\ninput open\n#####0#####\n0：" + shown_steering +
               "\n0：out\n0：1\n↓↓↓↓↓↓↓↓↓↓\nout open\n#####1#####\n1：" + marker + "\n1：" + shown_name +
               "\n1：1\n↓↓↓↓↓↓↓↓↓↓\n" + shown_name + " open\n";
    };
    using Environment = std::map<std::string, std::string>;
    std::vector<std::tuple<ReportTo, Environment, std::string>> rows = {
        {ReportTo::pipe, {{"LC_ALL", "ja_JP.UTF-8"}},
         report({"form", "input"}, {{steering, "out", 1}, {kanji, name, 1}})}};
    if (testing_windows_build()) {
        // Consoles of code page 437 and 932 alike; names read in the ANSI code page,
        // 1252 and 932.
        rows.push_back({ReportTo::terminal, {{"LC_ALL", "C.UTF-8"}}, utf8("•\\Ž¦", name)});
        rows.push_back({ReportTo::terminal, {{"LC_ALL", "ja_JP.UTF-8"}}, utf8("表示", name)});
    } else {
        rows.push_back({ReportTo::terminal, {{"LC_ALL", ""}, {"LC_CTYPE", "ja_JP.utf-8@x"}},
                        utf8("表示", "a\\rb")});
        rows.push_back({ReportTo::terminal, {{"LC_ALL", "C"}, {"LANG", "ja_JP.UTF-8"}},
                        report({"form", "input"}, {{shown_steering, "out", 1}, {kanji, "a\\rb", 1}})});
    }
    for (const auto& [report_to, environment, console] : rows) {
        SCOPED_TRACE(environment.begin()->second);
        EXPECT_EQ(run({"form", "input"}, {report_to, environment}).console, console);
    }
    if (testing_windows_build()) GTEST_SKIP() << "Wine reads a Linux FIFO as a disk file";

    // A run that goes on for more than a second shows that it moves, on standard error
    // when that is a terminal, and takes the line away at the end; into a file, nothing.
    folder.write("form", "M\nout\n1\n");
    const std::string fifo = (folder.path() / "slow").string();
    ::mkfifo(fifo.c_str(), 0666);
    const std::string errors_file = (folder.path() / "errors").string();
    for (const bool terminal : {true, false}) {
        std::thread writer([&] {
            const int fd = ::open(fifo.c_str(), O_WRONLY);
            ::write(fd, "a\n", 2);
            std::this_thread::sleep_for(std::chrono::milliseconds(1300));
            ::write(fd, "bc\nM\n", 5);
            ::close(fd);
        });
        const ToolRun result = run_tool(folder.path(), {"form", "slow"},
                                        {.errors_file = terminal ? "" : errors_file, .errors_to_terminal = terminal});
        writer.join();
        EXPECT_EQ(result.console, report({"form", "slow"}, {{"M", "out", 1}}));
        const std::size_t drawn = result.errors.find("\rkerfline: 7 B read, record 0, ");
        const std::size_t erased = result.errors.find_last_not_of(' ', result.errors.size() - 2);
        EXPECT_EQ(terminal ? drawn == 0 && result.errors.ends_with("\r") && result.errors[erased] == '\r'
                           : result.errors.empty(),
                  true) << ::testing::PrintToString(result.errors);
    }
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
            // Now and then an output that is the input: a run stops there, a dry run goes on.
            const std::string name = random() % 40 == 0 ? "input" : "out" + std::to_string(random() % 4);
            form += pick(words) + end + name + end + flag + end;
        }
        if (random() % 4 == 0) form += "A\n";
        SCOPED_TRACE("round " + std::to_string(round));
        expect_as_modelled(form, input);
        if (HasFailure()) break;
    }
}

// What only a Windows build meets: drive letters, backslashes, names that differ in
// letter case only, DOS device names, and the ANSI code page.
TEST_F(Split, WindowsNamesAreReadAsWindowsReadsThem) {
    if (!testing_windows_build()) GTEST_SKIP() << "Windows path rules apply to the Windows build";
    const std::string two = windows_path(folder.path() / "two");
    const std::string sub_form = windows_path(folder.path() / "sub" / "form");
    const std::string named = "A\nsub\\one\n1\nB\n" + two + "\n1\nC\nthree.\n1\nD\nfour \n1\n";
    const std::string four = "a\nA\nb\nB\nc\nC\nd\nD\n";
    const std::string kanji = "END\n\x95\x5c\x8e\xa6.txt\n1\nEND2\n\xb1\xb2.txt\n1\n";
    const std::string lacking = "M\nok.txt\n1\nN\nbad\x82.txt\n1\nO\nbad\x83.txt\n1\n";
    const std::string longest(32765, 'w');
    const ToolOptions code_page_932{ReportTo::pipe, {{"LC_ALL", "ja_JP.UTF-8"}}};
    const std::string not_in_932 = "the name is not text in code page 932";
    std::vector<Row> rows = {
        // Drive letters, backslashes, and a trailing dot or space that the name loses.
        {{{"sub/form", named}, {"input", four}}, {sub_form, ".\\input"},
         report({sub_form, ".\\input"},
                {{"A", "sub\\one", 1}, {"B", two, 1}, {"C", "three.", 1}, {"D", "four ", 1}}),
         "", 0, {{"sub/one", "a\nA\n"}, {"two", "b\nB\n"}, {"three", "c\nC\n"}, {"four", "d\nD\n"}}},
        {{{"form", "A\none\n1\nB\ntwo\n2\nC\nmissing\\three\n1\nD\nfour\n1\n"}, {"input", four}},
         {"form", "input"},
         refused({"form", "input"}, {{"A", "one", 1}, {"B", "two", 2}, {"C", "missing\\three", 1}}),
         reason("missing\\three", "Path not found"), 1, {{"one", "a\nA\n"}, {"two", ""}}},
        {{{"form", "M\nNUL\n1\nN\nnul\n2\n"}, {"input", "a\nM\nb\nN\n"}}, {"form", "input"},
         report({"form", "input"}, {{"M", "NUL", 1}, {"N", "nul", 2}}), "", 0},
        // Names in the code page are taken, arguments and in a form: kanji, 表 (95 5C), kana.
        {{{"表.form", kanji}, {"ｱ.in", "a\nEND\nb\nEND2\n"}}, {"表.form", "ｱ.in"},
         report({"\x95\x5c.form", "\xb1.in"},
                {{"END", "\x95\x5c\x8e\xa6.txt", 1}, {"END2", "\xb1\xb2.txt", 1}}),
         "", 0, {{"表示.txt", "a\nEND\n"}, {"ｱｲ.txt", "b\nEND2\n"}}, code_page_932},
        // A dry run plans with names as the report gives them, and knows one file by its
        // names in either letter case.
        {{{"form", "END\n\x95\x5c\x8e\xa6.txt\n1\nEND\n\x95\x5c\x8e\xa6.TXT\n2\n"}, {"input", "a\nEND\n"}},
         {"-n", "form", "input"},
         report({"form", "input"}) + "0: \x95\x5c\x8e\xa6.txt: write 6 bytes, to line 2\n"
             "1: \x95\x5c\x8e\xa6.TXT: empty, marker not found; empties record 0's file\n"
             "rest: 0 bytes read by no record\nplan: files created 1, replaced 0, emptied 0; bytes written 6\n",
         "", 0, {}, code_page_932},
        // A name the ANSI code page cannot hold exactly is refused: as Windows converts names,
        // "bad\x82.txt" and "bad\x83.txt" (a lead byte before ".") would be one file.
        {{{"form", lacking}, {"input", "a\nM\nb\nN\n"}}, {"form", "input"},
         refused({"form", "input"}, {{"M", "ok.txt", 1}, {"N", "bad\x82.txt", 1}}),
         reason("bad\x82.txt", not_in_932), 1, {{"ok.txt", "a\nM\n"}}, code_page_932},
        // Past the longest path, made absolute and marked \\?\, a name would be cut short.
        {{{"form", "M\n" + longest + "\n1\n"}, {"input", "a\nM\n"}}, {"form", "input"},
         refused({"form", "input"}, {{"M", longest, 1}}), reason(longest, "File name is too long")},
        // Windows ignores letter case and a trailing dot in names: the form, and the input.
        {{{"form", "M\nFORM\n1\n"}, {"input", "a\nM\n"}}, {"form", "input"},
         refused({"form", "input"}, {{"M", "FORM", 1}}), reason("FORM", "the output is the form file")},
    };
    for (const std::string& name : {"INPUT"s, ".\\Input"s, "sub\\..\\inPut"s, "input."s,
                                    windows_path(folder.path() / "INPUT")}) {
        rows.push_back({{{"form", "M\n" + name + "\n2\n"}, {"input", "a\nM\nb\n"}, {"sub/", ""}},
                        {"form", "input"}, refused({"form", "input"}, {{"M", name, 2}}),
                        reason(name, "the output is the input file")});
    }
    // So are arguments, before anything is opened: with the C runtime's best fit,
    // "plan-ß.form" would read "plan-s.form", and a run meant to skip keep.txt write it.
    const Files plans = {{"plan-ß.form", "END\nkeep.txt\n0\n"}, {"plan-s.form", "END\nkeep.txt\n1\n"},
                         {"keep.txt", "precious\n"}, {"in.txt", "a\nEND\n"}};
    for (const auto& [form, input, shown] : std::vector<std::array<std::string, 3>>{
             {"plan-ß.form", "in.txt", "plan-?.form"},
             {"plan-s.form", "café.txt", "caf?.txt"},
             {"plan-s.form", "rep¥2024.txt", "rep?2024.txt"}}) {
        rows.push_back({plans, {form, input}, report({}) + cannot_open_text(shown),
                        reason(shown, not_in_932), 1, {}, code_page_932});
    }
    expect_rows(rows);

    // The system's reasons lose their full stop there too.
    const ToolRun missing = run({"missing", "input"}, code_page_932);
    EXPECT_TRUE(missing.errors.starts_with("kerfline: missing: ")) << missing.errors;
    EXPECT_FALSE(missing.errors.ends_with("\x81\x42\n")) << missing.errors;
    // It counts UTF-16 units, not bytes: 16,448 kanji, 32,896 bytes in code page 932, fit.
    folder.write("input", "a\nM\n");
    std::string kanji_path = "missing\\";
    for (int i = 0; i < 16440; ++i) kanji_path += "\x95\x5c";
    folder.write("form", "M\n" + kanji_path + "\n1\n");
    const ToolRun result = run({"form", "input"}, code_page_932);
    folder.write("form", "M\nmissing\\x\n1\n");
    const ToolRun short_path = run({"form", "input"}, code_page_932);
    const std::string not_found = short_path.errors.substr(short_path.errors.rfind(": "));
    EXPECT_TRUE(result.errors.ends_with(not_found)) << not_found;
}

}  // namespace
}  // namespace kerfline::testing
