// Windows side of the platform layer: the process and its standard
// streams. The command line, stops from the console, and what standard
// output and error are: a console, which takes the report as UTF-16, or a
// file or a pipe, which takes its bytes in a console program's text mode.
#include "platform_win32.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <string>

namespace kerfline {

using win32::from_code_page;
using win32::Identity;
using win32::identify;
using win32::longest_path;

namespace {

// `wide` in the ANSI code page at `into`, which has room for `room` bytes,
// with '?' for what the code page lacks; `inexact` unless the bytes read
// back as `wide` by the rule a name in a form is held to. Returns the count
// of bytes.
int to_code_page(std::wstring_view wide, char* into, int room, bool& inexact) {
    inexact = false;
    if (wide.empty()) return 0;
    // UTF-8 has every character but a lone surrogate; another code page
    // would stand one of its own in for a character it lacks.
    const DWORD no_best_fit = ::GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = std::max(::WideCharToMultiByte(CP_ACP, no_best_fit, wide.data(),
                                                    static_cast<int>(wide.size()), into, room,
                                                    nullptr, nullptr),
                              0);
    std::wstring back;
    FileError ignored;
    try {
        inexact = !from_code_page({into, static_cast<std::size_t>(size)}, back, ignored) ||
                  back != wide;
    } catch (const std::bad_alloc&) {
        inexact = true;  // not known to be exact; nothing is opened then
    }
    return size;
}

}  // namespace

CommandLine command_line(int argc, wchar_t** argv) {
    // The command line holds at most 32,767 units, each at most three
    // bytes in any code page, and every argument takes a unit more.
    static char bytes[4 * (longest_path + 1)];
    static const char* arguments[longest_path + 1];
    static bool inexact[longest_path + 1];
    const int count = std::min(argc, static_cast<int>(std::size(arguments)));
    std::size_t used = 0;
    for (int index = 0; index < count; ++index) {
        char* at = bytes + used;
        const int room = static_cast<int>(sizeof bytes - used - 1);
        const int size = to_code_page(argv[index], at, room, inexact[index]);
        at[size] = '\0';
        arguments[index] = at;
        used += static_cast<std::size_t>(size) + 1;
    }
    return {count, arguments, inexact, ::GetACP()};
}

namespace {

// What a stop does; the console's handler has no other way to reach it.
void (*carry_out_stop)(int) = nullptr;

BOOL WINAPI stop_run(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    const auto which = static_cast<int>(event) + 1;
    // The stop ends the run, or leaves that to the run when it is done with
    // a write or an open; asked again, it ends the run once the run is done
    // or, should a reader hold a write up, after two seconds.
    for (int tries = 0; tries < 200; ++tries) {
        carry_out_stop(which);
        ::Sleep(10);
    }
    end_as_stopped(which);
}

}  // namespace

void on_stop(void (*stop)(int which)) {
    carry_out_stop = stop;
    ::SetConsoleCtrlHandler(stop_run, TRUE);
}

// As the system ends a program on Ctrl+C.
void end_as_stopped(int) { ::ExitProcess(STATUS_CONTROL_C_EXIT); }

// A stop waits for the run's write, two seconds at most.
void output_waits_no_more() {}
void output_may_wait_again() {}

void wait_for_the_end() {
    for (;;) ::Sleep(INFINITE);
}

namespace {

HANDLE standard_handle(StandardStream stream) {
    constexpr DWORD handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    return ::GetStdHandle(handles[static_cast<int>(stream)]);
}

bool is_console(HANDLE handle) {
    DWORD mode = 0;
    return ::GetConsoleMode(handle, &mode) != 0;
}

// A standard stream keeps the text mode of a Windows console program: each
// "\n" goes out as CR LF, in pieces so that no report is copied whole. A
// successful write is taken as whole: some consoles count characters
// rather than bytes written, and resending "the rest" would repeat text.
void write_text_mode(HANDLE output, const char* bytes, std::size_t count) {
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    char translated[8192];
    std::size_t used = 0;
    auto send = [&] {
        DWORD written = 0;
        const bool sent =
            ::WriteFile(output, translated, static_cast<DWORD>(used), &written, nullptr) != 0;
        used = 0;
        return sent;
    };
    for (std::size_t i = 0; i < count; ++i) {
        if (used + 2 > sizeof translated && !send()) return;
        if (bytes[i] == '\n') translated[used++] = '\r';
        translated[used++] = bytes[i];
    }
    if (used > 0) send();
}

// A console reads its own characters, whatever its code page: the report,
// UTF-8, goes to it as UTF-16, each "\n" as CR LF. In pieces that end where
// a character ends, so that none is split.
void write_console(HANDLE console, const char* bytes, std::size_t count) {
    constexpr std::size_t piece = 2048;
    wchar_t converted[piece];
    wchar_t lines[2 * piece];
    while (count > 0) {
        std::size_t size = std::min(count, piece);
        while (size > 1 && size < count && (static_cast<unsigned char>(bytes[size]) & 0xc0) == 0x80) {
            --size;
        }
        const int units = ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size),
                                                converted, static_cast<int>(piece));
        std::size_t used = 0;
        for (int i = 0; i < units; ++i) {
            if (converted[i] == L'\n') lines[used++] = L'\r';
            lines[used++] = converted[i];
        }
        DWORD written = 0;
        if (!::WriteConsoleW(console, lines, static_cast<DWORD>(used), &written, nullptr)) return;
        bytes += size;
        count -= size;
    }
}

}  // namespace

void prepare_process() {
    // A standard output handle that was closed before the start could be
    // reused by the next file opened, and the report would land in it.
    const HANDLE output = standard_handle(StandardStream::output);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    if (::GetFileType(output) == FILE_TYPE_UNKNOWN && ::GetLastError() == ERROR_INVALID_HANDLE) {
        const HANDLE discard = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
        if (discard != INVALID_HANDLE_VALUE) ::SetStdHandle(STD_OUTPUT_HANDLE, discard);
    }
}

std::optional<StandardFile> standard_file(StandardStream stream) {
    const HANDLE handle = standard_handle(stream);
    Identity identity;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !identify(handle, identity)) {
        return std::nullopt;
    }
    return StandardFile{identity.id, identity.is_disk_file, ::GetFileType(handle) == FILE_TYPE_PIPE,
                        is_console(handle)};
}

// Windows has no overlay mounts.
bool standard_stream_overlay_paths(StandardStream, std::vector<std::string>& paths) {
    paths.clear();
    return true;
}

void write_standard(StandardStream stream, const char* bytes, std::size_t count) {
    const HANDLE handle = standard_handle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    if (is_console(handle)) {
        write_console(handle, bytes, count);
    } else {
        write_text_mode(handle, bytes, count);
    }
}

Screen screen_of(StandardStream stream) {
    return is_console(standard_handle(stream)) ? Screen::utf8 : Screen::none;
}

std::uint32_t names_code_page() { return ::GetACP(); }

std::size_t code_page_character(std::uint32_t code_page, std::string_view bytes,
                                char32_t& character) {
    // A character is one to four bytes that the code page turns into one
    // UTF-16 character, or two that make a pair.
    for (std::size_t length = 1; length <= std::min<std::size_t>(bytes.size(), 4); ++length) {
        wchar_t wide[2];
        const int units = ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(),
                                                static_cast<int>(length), wide, 2);
        if (units == 1 && (wide[0] < 0xd800 || wide[0] > 0xdfff)) {
            character = wide[0];
            return length;
        }
        if (units == 2 && wide[0] >= 0xd800 && wide[0] < 0xdc00 && wide[1] >= 0xdc00 &&
            wide[1] <= 0xdfff) {
            character = 0x10000 + ((static_cast<char32_t>(wide[0]) - 0xd800) << 10) +
                        (static_cast<char32_t>(wide[1]) - 0xdc00);
            return length;
        }
        if (units != 0) return 0;  // more than one character: the first byte is none
    }
    return 0;
}

}  // namespace kerfline
