// Runs the built tool as a user would: a child process in a folder of its
// own, its standard output and error captured.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace kerfline::testing {

struct ToolRun {
    std::string console;  // standard output, bytes as written
    std::string errors;   // standard error, which must stay empty
    int status = -1;      // exit status, or -1 when the tool did not exit
    long max_rss_kib = 0;
};

enum class Console { pipe, pipe_closed_at_once, closed, terminal };

struct ToolOptions {
    Console console = Console::pipe;
    std::map<std::string, std::string> environment;  // set in the child
};

// The command that runs the tool: KERFLINE_TEST_COMMAND if set (words split
// at spaces, so a launcher may come first), else the binary just built.
std::vector<std::string> tool_command();

ToolRun run_tool(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                 const ToolOptions& options = {});

}  // namespace kerfline::testing
