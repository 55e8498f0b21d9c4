// POSIX side of the platform layer: the process and its standard streams.
// The command line, stops from outside, and what standard output and error
// are and which screen they are on.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "platform_posix.h"
#include "system_calls.h"

namespace kerfline {

namespace {

int fd_of(StandardStream stream) {
    switch (stream) {
        case StandardStream::input: return STDIN_FILENO;
        case StandardStream::output: return STDOUT_FILENO;
        case StandardStream::error: break;
    }
    return STDERR_FILENO;
}

// Set once, before anything is written: which standard streams were closed
// at the start, and the placeholder holding their numbers. The report and
// the reason line reach them from anywhere, a signal handler included.
bool closed_at_start[3] = {};
bool placeholder_made = false;
struct stat placeholder;

// What a stop does; a signal handler has no other way to reach it.
void (*carry_out_stop)(int) = nullptr;

extern "C" void stop_run(int signal_number) { carry_out_stop(signal_number); }

// The flags standard output had before a stop made its writes return at
// once, or -1.
volatile sig_atomic_t flags_before_stop = -1;

}  // namespace

bool posix::holds_closed_stream(const struct stat& status) {
    return placeholder_made && status.st_dev == placeholder.st_dev &&
           status.st_ino == placeholder.st_ino;
}

CommandLine command_line(int argc, char** argv) { return {argc, argv}; }

void on_stop(void (*stop)(int which)) {
    carry_out_stop = stop;
    constexpr int stops[] = {SIGINT, SIGTERM, SIGHUP};
    struct sigaction action = {};
    action.sa_handler = stop_run;
    sigemptyset(&action.sa_mask);
    for (const int each : stops) sigaddset(&action.sa_mask, each);
    for (const int each : stops) {
        struct sigaction before;
        // A stop ignored from the start (nohup, a background job) stays so.
        if (::sigaction(each, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(each, &action, nullptr);
        }
    }
}

void end_as_stopped(int which) { sys::end_by_signal(which); }

void wait_for_the_end() {
    for (;;) ::pause();
}

void output_waits_no_more() {
    if (flags_before_stop != -1) return;
    struct stat status;
    const int flags = sys::status_flags(STDOUT_FILENO);
    // A file on disk never waits for a reader.
    if (flags < 0 || sys::fstat(STDOUT_FILENO, &status) != 0 || S_ISREG(status.st_mode)) return;
    if (sys::set_status_flags(STDOUT_FILENO, flags | O_NONBLOCK) == 0) flags_before_stop = flags;
}

void output_may_wait_again() {
    const int flags = flags_before_stop;
    if (flags == -1) return;
    sys::set_status_flags(STDOUT_FILENO, flags);
    flags_before_stop = -1;
}

void prepare_process() {
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails with EFBIG, reported like any
    // failed write, instead of ending the process without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    // A closed standard stream's number is held by an empty file of no
    // name, so that the next file opened does not take it: the report would
    // go there, and /dev/stdout would name it.
    int held = -1;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        closed_at_start[fd] = true;
        if (held < 0) {
            held = ::memfd_create("kerfline: closed", MFD_CLOEXEC);
            // Without it, a directory holds the number: no output opens it.
            if (held < 0) held = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            placeholder_made = held >= 0 && ::fstat(held, &placeholder) == 0;
        }
        if (held >= 0 && held != fd) ::dup3(held, fd, O_CLOEXEC);
    }
}

std::optional<StandardFile> standard_file(StandardStream stream) {
    struct stat status;
    const int fd = fd_of(stream);
    if (closed_at_start[fd] || sys::fstat(fd, &status) != 0) return std::nullopt;
    return StandardFile{posix::id_of(status), S_ISREG(status.st_mode), S_ISFIFO(status.st_mode),
                        S_ISCHR(status.st_mode) && sys::isatty(fd) == 1};
}

void write_standard(StandardStream stream, const char* bytes, std::size_t count) {
    const int fd = fd_of(stream);
    if (closed_at_start[fd]) return;
    while (count > 0) {
        const ssize_t n = sys::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

Screen screen_of(StandardStream stream) {
    const int fd = fd_of(stream);
    if (closed_at_start[fd] || sys::isatty(fd) != 1) return Screen::none;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return locale_names_utf8(value) ? Screen::utf8 : Screen::shift_jis;
        }
    }
    return Screen::shift_jis;
}

std::uint32_t names_code_page() { return 0; }

// Never asked: names here have no code page.
std::size_t code_page_character(std::uint32_t, std::string_view, char32_t&) { return 0; }

bool locale_names_utf8(std::string_view locale) {
    const std::size_t dot = locale.find('.');
    if (dot == std::string_view::npos) return false;
    std::string_view codeset = locale.substr(dot + 1);
    codeset = codeset.substr(0, codeset.find('@'));
    // "utf8" in either letter case, dashes left out.
    constexpr std::string_view utf8 = "utf8";
    std::size_t matched = 0;
    for (const char c : codeset) {
        if (c == '-') continue;
        const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (matched == utf8.size() || lower != utf8[matched]) return false;
        ++matched;
    }
    return matched == utf8.size();
}

}  // namespace kerfline
