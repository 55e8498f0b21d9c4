// Runs the built tool as a user would: a child process in a folder of its
// own, its standard output and error captured.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace kerfline::testing {

// A console or standard error sent to a file is read back once the tool has ended.
// Under Wine a terminal shows what a Windows console draws: that is read back
// as the text it shows, without the console's escape sequences.
struct ToolRun {
    std::string console;        // standard output, its line ends given back as "\n"
    std::string console_bytes;  // standard output, bytes as written
    bool console_line_ends_native = true;  // every line end is the target's own
    std::string errors;   // standard error, its line ends given back as "\n"
    int status = -1;      // exit status, or -1 when the tool did not exit
    int stopped_by = 0;   // the signal that ended it, if one did: SIGKILL past the time limit
    long max_rss_kib = 0;
    bool report_left_non_blocking = false;  // for ReportTo::pipe_unread
};

// Where the report, standard output, goes: pipe_unread is a pipe no one reads,
// whose other end the runner shares as the next program in a shell would.
enum class ReportTo { pipe, pipe_closed_at_once, pipe_unread, closed, terminal, file, file_appended };

struct ToolOptions {
    ReportTo report_to = ReportTo::pipe;
    std::map<std::string, std::string> environment;  // set in the child
    std::size_t address_space_limit = 0;               // bytes, when not 0
    std::size_t file_size_limit = 0;                   // bytes, when not 0
    std::size_t open_file_limit = 0;                   // descriptors, when not 0
    std::filesystem::path report_file;                 // for ReportTo::file...
    std::filesystem::path errors_file;                 // standard error, else a pipe
    bool errors_to_terminal = false;                   // or a terminal of its own
    bool input_closed = false;                         // else the runner's own
    std::vector<int> ignored_signals;                  // ignored from the start, as by nohup
    int time_limit_seconds = 0;                        // then it is killed, when not 0
    // Called with the tool's process id once it runs, before its streams are read.
    std::function<void(int pid)> while_running;
    std::vector<std::string> command;  // what runs, instead of tool_command()
};

// Whether the tool under test is the Windows build, run under Wine
// (KERFLINE_TEST_TARGET=windows): its console ends lines with CR LF.
bool testing_windows_build();

// Whether the tool runs under an emulator, Wine or qemu-user (KERFLINE_TEST_TARGET=qemu):
// the process measured and limited is then the emulator, so memory is neither measured
// nor limited there; every other case holds.
bool testing_under_emulator();

// Whether the tool was built with the sanitizers, whose runtime keeps memory and
// descriptors of its own (KERFLINE_TEST_SANITIZED=1, set by the sanitize-test preset).
bool testing_sanitized_build();

// Where a case may write files of several GiB (KERFLINE_TEST_LARGE_FILES), or empty.
std::filesystem::path large_file_folder();

// How the Windows build names `path`: Wine shows the Linux root as drive Z:.
std::string windows_path(const std::filesystem::path& path);

// The command that runs the tool: KERFLINE_TEST_COMMAND if set (words split
// at spaces, so a launcher may come first), else the binary just built.
std::vector<std::string> tool_command();

ToolRun run_tool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                 const ToolOptions& options = {});

}  // namespace kerfline::testing
