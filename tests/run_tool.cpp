#include "run_tool.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <tuple>
#include <unistd.h>

namespace kerfline::testing {

namespace fs = std::filesystem;

std::vector<std::string> tool_command() {
    const char* configured = std::getenv("KERFLINE_TEST_COMMAND");
    std::istringstream words(configured != nullptr && *configured != '\0' ? configured
                                                                           : KERFLINE_TOOL_COMMAND);
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

namespace {

std::string_view environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

bool testing_windows_build() { return environment("KERFLINE_TEST_TARGET") == "windows"; }
bool testing_under_emulator() { return !environment("KERFLINE_TEST_TARGET").empty(); }
bool testing_sanitized_build() { return environment("KERFLINE_TEST_SANITIZED") == "1"; }
fs::path large_file_folder() { return environment("KERFLINE_TEST_LARGE_FILES"); }

std::string windows_path(const fs::path& path) {
    std::string name = "Z:" + path.string();
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

namespace {

// A Windows console program writes "\n" as CR LF: the report with "\n" line ends, or
// nothing when a line end lacks its CR.
std::optional<std::string> report_from_text_mode(const std::string& bytes) {
    std::string report;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return std::nullopt;
        report += bytes[i];
    }
    return report;
}

// What a Windows console under Wine drew on a terminal, as the text it shows:
// its control sequences dropped, its line ends, "\r\n" and "\r\r\n", given back
// as "\n".
std::string shown_by_wine(const std::string& drawn) {
    std::string shown;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        if (drawn.compare(i, 2, "\x1b[") == 0) {
            for (i += 2; i < drawn.size() && !(drawn[i] >= '@' && drawn[i] <= '~'); ++i) {}
        } else if (drawn[i] != '\r' || drawn.find_first_not_of('\r', i) == std::string::npos ||
                   drawn[drawn.find_first_not_of('\r', i)] != '\n') {
            shown += drawn[i];
        }
    }
    return shown;
}

void check(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// A terminal of its own: the master's end, and the end the tool writes to,
// raw, so that "\n" stays as the tool wrote it.
std::pair<int, int> open_terminal() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0, "pty");
    const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    check(slave >= 0, "pty slave");
    termios mode;
    ::tcgetattr(slave, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(slave, TCSANOW, &mode);
    return {master, slave};
}

// Reads every stream to its end, whichever the child fills first; kills the
// child once `time_limit_seconds`, when not 0, have gone by.
void drain(std::vector<std::pair<int, std::string*>> streams, pid_t child, int time_limit_seconds) {
    std::vector<pollfd> fds;
    for (const auto& stream : streams) fds.push_back({stream.first, POLLIN, 0});
    std::size_t open_count = fds.size();
    char chunk[65536];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(time_limit_seconds);
    while (open_count > 0) {
        const int ready = ::poll(fds.data(), fds.size(), time_limit_seconds != 0 ? 100 : -1);
        if (ready < 0) {
            check(errno == EINTR, "poll");
            continue;
        }
        if (time_limit_seconds != 0 && std::chrono::steady_clock::now() > deadline) ::kill(child, SIGKILL);
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                streams[i].second->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {  // a terminal's master ends with EIO
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

}  // namespace

namespace {

ToolRun run_once(const fs::path& folder, const std::vector<std::string>& arguments,
                 const ToolOptions& options) {
    std::vector<std::string> words = options.command.empty() ? tool_command() : options.command;
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int out_pipe[2];
    int err_pipe[2];
    if (options.errors_to_terminal) {
        std::tie(err_pipe[0], err_pipe[1]) = open_terminal();
    } else if (options.errors_file.empty()) {
        check(::pipe2(err_pipe, O_CLOEXEC) == 0, "pipe");
    } else {
        err_pipe[0] = -1;
        err_pipe[1] = ::open(options.errors_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                             0666);
        check(err_pipe[1] >= 0, "errors file");
    }
    int child_out;
    if (options.report_to == ReportTo::terminal) {
        std::tie(out_pipe[0], out_pipe[1]) = open_terminal();
        child_out = out_pipe[1];
    } else if (options.report_to == ReportTo::file || options.report_to == ReportTo::file_appended) {
        const int keep_or_empty = options.report_to == ReportTo::file ? O_TRUNC : O_APPEND;
        child_out = ::open(options.report_file.c_str(),
                           O_WRONLY | O_CREAT | keep_or_empty | O_CLOEXEC, 0666);
        check(child_out >= 0, "console file");
        out_pipe[0] = -1;
        out_pipe[1] = child_out;
    } else {
        check(::pipe2(out_pipe, O_CLOEXEC) == 0, "pipe");
        child_out = out_pipe[1];
        if (options.report_to != ReportTo::pipe && options.report_to != ReportTo::pipe_unread) {
            ::close(out_pipe[0]);
            out_pipe[0] = -1;
        }
    }
    // The unread pipe's ends stay here, to be read from no one, and shared.
    int unread_pipe[2] = {-1, -1};
    if (options.report_to == ReportTo::pipe_unread) {
        std::swap(unread_pipe[0], out_pipe[0]);
        unread_pipe[1] = ::dup(out_pipe[1]);
    }

    const pid_t child = ::fork();
    check(child >= 0, "fork");
    if (child == 0) {
        ::dup2(child_out, STDOUT_FILENO);
        if (options.report_to == ReportTo::closed) ::close(STDOUT_FILENO);
        if (options.input_closed) ::close(STDIN_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        // As a shell starts a command in the foreground, whatever the runner's own.
        for (const int stop : {SIGINT, SIGTERM, SIGHUP}) ::signal(stop, SIG_DFL);
        for (const int stop : options.ignored_signals) ::signal(stop, SIG_IGN);
        // Only the three streams, whatever the runner leaves open: some cases count them.
        ::close_range(3, ~0U, 0);
        for (const auto& [name, value] : options.environment) ::setenv(name.c_str(), value.c_str(), 1);
        for (const auto& [resource, value] : {std::pair{RLIMIT_AS, options.address_space_limit},
                                              {RLIMIT_FSIZE, options.file_size_limit},
                                              {RLIMIT_NOFILE, options.open_file_limit}}) {
            const rlimit limit{value, value};
            if (value != 0) ::setrlimit(resource, &limit);
        }
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        ::execvp(argv[0], argv.data());
        // Said on the tool's standard error, which a failing test shows.
        const std::string why = std::string("the test runner cannot start ") + argv[0] + ": " +
                                std::strerror(errno) + "\n";
        ::write(STDERR_FILENO, why.data(), why.size());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);

    if (options.while_running) options.while_running(child);
    ToolRun run;
    std::vector<std::pair<int, std::string*>> streams;
    if (err_pipe[0] >= 0) streams.emplace_back(err_pipe[0], &run.errors);
    if (out_pipe[0] >= 0) streams.emplace_back(out_pipe[0], &run.console_bytes);
    drain(streams, child, options.time_limit_seconds);
    for (const auto& stream : streams) ::close(stream.first);

    int wait_status = 0;
    rusage usage{};
    while (::wait4(child, &wait_status, 0, &usage) < 0) check(errno == EINTR, "wait");
    if (WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
    if (WIFSIGNALED(wait_status)) run.stopped_by = WTERMSIG(wait_status);
    if (unread_pipe[1] >= 0) {
        run.report_left_non_blocking = (::fcntl(unread_pipe[1], F_GETFL) & O_NONBLOCK) != 0;
        ::close(unread_pipe[0]);
        ::close(unread_pipe[1]);
    }
    run.max_rss_kib = usage.ru_maxrss;
    auto read_back = [](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    if (!options.report_file.empty()) run.console_bytes = read_back(options.report_file);
    if (!options.errors_file.empty()) run.errors = read_back(options.errors_file);
    run.console = run.console_bytes;
    if (!testing_windows_build()) return run;
    for (auto [text, on_terminal] : {std::pair{&run.console, options.report_to == ReportTo::terminal},
                                     {&run.errors, options.errors_to_terminal}}) {
        const std::optional<std::string> lines =
            on_terminal ? shown_by_wine(*text) : report_from_text_mode(*text);
        run.console_line_ends_native = run.console_line_ends_native && lines.has_value();
        if (lines) *text = *lines;
    }
    return run;
}

}  // namespace

// The tool writes its banner or its usage text before anything can fail, so
// a run to a pipe or a file with no word on either stream never started.
// Under Wine that happens about once in 8,000 starts on a busy machine:
// Wine cannot map its shared user data at 0x7ffe0000 (c0000018) and exits
// with status 1 before it loads the program, saying so only as an error
// message that WINEDEBUG=-all hides. Such a run is made again, once, and
// the test's output says so; twice fails the test.
ToolRun run_tool(const fs::path& folder, const std::vector<std::string>& arguments,
                 const ToolOptions& options) {
    ToolRun run = run_once(folder, arguments, options);
    const bool to_be_read = options.report_to == ReportTo::pipe || options.report_to == ReportTo::file;
    if (testing_windows_build() && to_be_read && !options.while_running && run.status != 0 &&
        run.console_bytes.empty() && run.errors.empty()) {
        std::cout << "note: the Windows program did not start (status " << run.status
                  << ", no banner, no reason line); running it again" << std::endl;
        run = run_once(folder, arguments, options);
    }
    return run;
}

}  // namespace kerfline::testing
