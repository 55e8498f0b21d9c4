// Windows side of the platform layer. Paths are the bytes main() received,
// in the ANSI code page; they reach the wide functions converted, so that
// they may be longer than 260 characters.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>

#include "platform.h"

namespace kerfline {

namespace {

// ReadFile and WriteFile count in DWORDs; larger requests go in pieces.
constexpr std::size_t largest_transfer = std::size_t{1} << 30;

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A name with a NUL byte cannot reach the system whole, so it names no file.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

FileError last_system_error() { return FileError::system(::GetLastError()); }

// The longest path the wide functions take, in UTF-16 units.
constexpr std::size_t longest_path = 32767;

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// `path` in UTF-16, converted from the ANSI code page as the ...A functions
// convert it, but exactly or not at all: where they would put a stand-in
// for bytes the code page lacks, two names could become one file.
bool from_code_page(std::string_view path, std::wstring& wide, FileError& error) {
    const UINT code_page = ::GetACP();
    const int length = static_cast<int>(path.size());
    const int wide_length =
        ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
    if (wide_length <= 0) {
        error = {FileError::Kind::name_outside_code_page, 0, code_page};
        return false;
    }
    if (static_cast<std::size_t>(wide_length) > longest_path) {
        error = FileError::system(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    wide.assign(static_cast<std::size_t>(wide_length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), length, wide.data(), wide_length);
    // A code page other than UTF-8 may map a byte to a character that maps
    // back to another byte: only a name that comes back the same is taken.
    if (code_page != CP_UTF8) {
        BOOL lossy = FALSE;
        const DWORD no_best_fit = WC_NO_BEST_FIT_CHARS;
        const int back_length = ::WideCharToMultiByte(CP_ACP, no_best_fit, wide.data(), wide_length,
                                                      nullptr, 0, nullptr, &lossy);
        std::string back(static_cast<std::size_t>(std::max(back_length, 0)), '\0');
        ::WideCharToMultiByte(CP_ACP, no_best_fit, wide.data(), wide_length, back.data(),
                              back_length, nullptr, &lossy);
        if (lossy || back != path) {
            error = {FileError::Kind::name_outside_code_page, 0, code_page};
            return false;
        }
    }
    return true;
}

// `path` as CreateFileW takes it at any length, without the system setting
// for long paths. A path whose full form is shorter than MAX_PATH is used
// as it is, so it means exactly what it meant to CreateFileA (CONOUT$ and
// other names it treats specially included); a longer one is made absolute
// by GetFullPathNameW, which reads it as any Windows path is read (".",
// "..", "/" and trailing dots and spaces), and marked \\?\ so that no
// length limit applies. False, with `error`, when it cannot be converted
// or is longer than the longest path, the mark included.
bool wide_path(std::string_view path, std::wstring& name, FileError& error) {
    if (has_nul(path)) {
        error = {FileError::Kind::nul_in_name};
        return false;
    }
    // The longest path counts UTF-16 units, and no code page takes more
    // than three bytes for one: a longer name is too long before it is
    // converted, however large.
    if (path.empty() || path.size() > 3 * longest_path) {
        error = FileError::system(path.empty() ? ERROR_PATH_NOT_FOUND : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // A name is at most 64 KiB here; should even that be too much, the
    // file cannot be opened for want of memory.
    try {
        std::wstring wide;
        if (!from_code_page(path, wide, error)) return false;
        name = wide;
        const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
        if (needed == 0) return true;
        std::wstring full(needed, L'\0');
        const DWORD full_length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
        if (full_length == 0 || full_length >= needed) return true;
        full.resize(full_length);
        // Device paths (\\.\) and those already marked keep their own rules.
        if (full.size() < MAX_PATH || starts_with(full, L"\\\\.\\") ||
            starts_with(full, L"\\\\?\\")) {
            return true;
        }
        name = starts_with(full, L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2)  // \\server\share
                                          : L"\\\\?\\" + full;
        if (name.size() > longest_path) {
            error = FileError::system(ERROR_FILENAME_EXCED_RANGE);
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        error = FileError::system(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

struct Identity {
    FileId id;
    bool is_disk_file = false;
    bool is_directory = false;
    bool created = false;
    bool known = false;  // by its attributes alone, when it could not be opened
};

// Disk files are known by volume serial number and file index. Devices and
// pipes have no such identity; each gets its own handle's value, which no
// other open file shares, so it never looks like a guarded file.
bool identify(HANDLE handle, Identity& identity) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        const auto handle_value = reinterpret_cast<std::uintptr_t>(handle);
        identity.id = {~std::uint64_t{0}, static_cast<std::uint64_t>(handle_value)};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) return false;
    const std::uint64_t written = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                  info.ftLastWriteTime.dwLowDateTime;
    identity.id = {info.dwVolumeSerialNumber,
                   (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow,
                   (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                   static_cast<std::int64_t>(written * 100)};  // counted in 100 ns
    identity.is_disk_file = true;
    // CreateFile already refuses a directory unless asked for backup
    // semantics; the attribute is checked too, whatever the file system.
    identity.is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool is_directory(const std::wstring& name) {
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Opens `path` and tells what it is, or why it cannot be opened. A name
// with a NUL byte, one the code page cannot hold and a directory are
// refused. Sharing everything lets the form and the input be one file, and
// lets an output that is a guarded file open, so the identity check, not a
// sharing violation, is what refuses it.
HANDLE open_identified(std::string_view path, DWORD access, DWORD disposition,
                       Identity& identity, FileError& error) {
    std::wstring name;
    if (!wide_path(path, name, error)) return INVALID_HANDLE_VALUE;
    constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = ::CreateFileW(name.c_str(), access, share_all, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    identity.created = disposition == OPEN_ALWAYS && handle != INVALID_HANDLE_VALUE &&
                       ::GetLastError() != ERROR_ALREADY_EXISTS;
    if (handle == INVALID_HANDLE_VALUE) {
        error = last_system_error();
        // Windows refuses a directory as access denied; say what it is.
        if (error.system_code == ERROR_ACCESS_DENIED && is_directory(name)) {
            error = {FileError::Kind::directory};
        }
        // A file another program holds, as a shell holds the file it sends
        // a program's output to, is still known by its attributes.
        if (error.system_code == ERROR_SHARING_VIOLATION) {
            const HANDLE known = ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                               nullptr);
            if (known != INVALID_HANDLE_VALUE) {
                identity.known = identify(known, identity);
                ::CloseHandle(known);
            }
        }
        return handle;
    }
    if (!identify(handle, identity) || identity.is_directory) {
        error = identity.is_directory ? FileError{FileError::Kind::directory} : last_system_error();
        ::CloseHandle(handle);
        if (identity.created) ::DeleteFileW(name.c_str());
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

HANDLE standard_handle(StandardStream stream) {
    return ::GetStdHandle(stream == StandardStream::output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
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

}  // namespace

std::string_view describe_system_error(std::uint32_t code, char (&buffer)[512]) {
    wchar_t words[512];
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, 0, words, static_cast<DWORD>(std::size(words)),
                                    nullptr);
    // One line, without the line end and full stop the system adds: "." or,
    // on a Japanese Windows, "。".
    while (length > 0 && std::wstring_view(L" .\r\n\u3002").find(words[length - 1]) !=
                             std::wstring_view::npos) {
        --length;
    }
    const int size = length == 0 ? 0
                                 : ::WideCharToMultiByte(CP_ACP, 0, words, static_cast<int>(length),
                                                         buffer, sizeof buffer, nullptr, nullptr);
    if (size > 0) return {buffer, static_cast<std::size_t>(size)};
    const int fallback = std::snprintf(buffer, sizeof buffer, "error %lu",
                                       static_cast<unsigned long>(code));
    return {buffer, static_cast<std::size_t>(std::max(fallback, 0))};
}

bool File::fail_with_system_error() {
    error_ = last_system_error();
    return false;
}

ReadResult File::read(char* into, std::size_t capacity) {
    const auto piece = static_cast<DWORD>(std::min(capacity, largest_transfer));
    DWORD count = 0;
    if (::ReadFile(handle_of(handle_), into, piece, &count, nullptr)) return {count, false};
    // A pipe whose writer has gone has simply ended.
    if (::GetLastError() == ERROR_BROKEN_PIPE) return {0, false};
    fail_with_system_error();
    return {0, true};
}

bool File::write(const char* bytes, std::size_t count) {
    while (count > 0) {
        const auto piece = static_cast<DWORD>(std::min(count, largest_transfer));
        DWORD written = 0;
        if (!::WriteFile(handle_of(handle_), bytes, piece, &written, nullptr)) {
            return fail_with_system_error();
        }
        // A write that takes nothing would take nothing again: as a full disk.
        if (written == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return fail_with_system_error();
        }
        bytes += written;
        count -= written;
    }
    return true;
}

bool File::close() {
    if (!is_open()) return true;
    const HANDLE handle = handle_of(handle_);
    handle_ = closed_handle;
    return ::CloseHandle(handle) != 0 || fail_with_system_error();
}

bool File::give_up(FileError why) {
    close();
    error_ = why;
    return false;
}

bool File::open_for_reading(std::string_view path, File& file) {
    file = File();
    Identity identity;
    const HANDLE handle = open_identified(path, GENERIC_READ, OPEN_EXISTING, identity, file.error_);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file = File(reinterpret_cast<std::intptr_t>(handle), identity.id, identity.is_disk_file, false);
    return true;
}

// CreateFile does not wait for the other end of a pipe.
bool File::open_for_writing(std::string_view path, bool, File& file) {
    file = File();
    // OPEN_ALWAYS rather than CREATE_ALWAYS: the file is emptied only once
    // it is known not to be a guarded one.
    Identity identity;
    const HANDLE handle = open_identified(path, GENERIC_WRITE, OPEN_ALWAYS, identity, file.error_);
    if (handle == INVALID_HANDLE_VALUE) {
        file.id_ = identity.id;
        file.identified_ = identity.known;
        return false;
    }
    file = File(reinterpret_cast<std::intptr_t>(handle), identity.id, identity.is_disk_file,
                identity.created);
    return true;
}

void File::discard(std::string_view path) {
    const bool take_back = created_;
    close();
    std::wstring name;
    FileError ignored;
    if (take_back && wide_path(path, name, ignored)) ::DeleteFileW(name.c_str());
}

bool File::truncate() {
    // The handle stands at offset 0, so this empties the file.
    if (!holds_bytes_ || ::SetEndOfFile(handle_of(handle_))) return true;
    return give_up(last_system_error());
}

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

// What a stop writes out; the console's handler has no other way to reach
// it.
void (*write_out_at_stop)() = nullptr;

BOOL WINAPI stop_run(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) write_out_at_stop();
    return FALSE;  // the next handler, at last the system's, ends the run
}

}  // namespace

void on_stop(void (*write_out)()) {
    write_out_at_stop = write_out;
    ::SetConsoleCtrlHandler(stop_run, TRUE);
}

void wait_for_the_end() {
    for (;;) ::Sleep(INFINITE);
}

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

std::optional<FileId> standard_stream_file(StandardStream stream) {
    const HANDLE handle = standard_handle(stream);
    Identity identity;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !identify(handle, identity) ||
        !identity.is_disk_file) {
        return std::nullopt;
    }
    return identity.id;
}

void write_standard(StandardStream stream, const char* bytes, std::size_t count) {
    write_text_mode(standard_handle(stream), bytes, count);
}

bool console_is_interactive() {
    DWORD mode = 0;
    return ::GetConsoleMode(standard_handle(StandardStream::output), &mode) != 0;
}

// A console set to code page 65001 reads UTF-8; any other reads the
// Shift_JIS bytes, as code page 932 does.
bool console_prefers_utf8() {
    constexpr UINT utf8_code_page = 65001;
    return console_is_interactive() && ::GetConsoleOutputCP() == utf8_code_page;
}

}  // namespace kerfline
