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
#include <cwchar>
#include <string>

#include "platform.h"

namespace kerfline {

namespace {

// ReadFile and WriteFile count in DWORDs; larger requests go in pieces.
constexpr std::size_t largest_transfer = std::size_t{1} << 30;

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A name with a NUL byte cannot reach the system whole, so it names no file.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

// The longest path the wide functions take, in UTF-16 units.
constexpr std::size_t longest_path = 32767;

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// `path` as CreateFileW takes it at any length, without the system setting
// for long paths. It is converted from the ANSI code page, as the ...A
// functions convert it. A path whose full form is shorter than MAX_PATH is
// used as it is, so it means exactly what it meant to CreateFileA (CONOUT$
// and other names it treats specially included); a longer one is made
// absolute by GetFullPathNameW, which reads it as any Windows path is read
// (".", "..", "/" and trailing dots and spaces), and marked \\?\ so that no
// length limit applies. Empty when it cannot be converted.
std::wstring wide_path(std::string_view path) {
    if (path.empty() || path.size() > longest_path) return {};
    const int length = static_cast<int>(path.size());
    const int wide_length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), length, nullptr, 0);
    if (wide_length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), length, wide.data(), wide_length);

    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return wide;
    std::wstring full(needed, L'\0');
    const DWORD full_length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (full_length == 0 || full_length >= needed) return wide;
    full.resize(full_length);
    // Device paths (\\.\) and those already marked keep their own rules.
    if (full.size() < MAX_PATH || starts_with(full, L"\\\\.\\") || starts_with(full, L"\\\\?\\")) {
        return wide;
    }
    if (starts_with(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
    return L"\\\\?\\" + full;
}

// Sharing everything lets the form and the input be one file, and lets an
// output that is one of them open so the identity check, not a sharing
// violation, is what refuses it.
HANDLE open_handle(std::string_view path, DWORD access, DWORD disposition) {
    const std::wstring name = wide_path(path);
    if (name.empty()) return INVALID_HANDLE_VALUE;
    constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return ::CreateFileW(name.c_str(), access, share_all, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct Identity {
    FileId id;
    bool is_disk_file = false;
    bool is_directory = false;
};

// Disk files are known by volume serial number and file index. Devices and
// pipes have no such identity; each gets its own handle's value, which no
// other open file shares, so it never looks like the form or the input.
bool identify(HANDLE handle, Identity& identity) {
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        const auto handle_value = reinterpret_cast<std::uintptr_t>(handle);
        identity.id = {~std::uint64_t{0}, static_cast<std::uint64_t>(handle_value)};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) return false;
    identity.id = {info.dwVolumeSerialNumber,
                   (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    identity.is_disk_file = true;
    // CreateFile already refuses a directory unless asked for backup
    // semantics; the attribute is checked too, whatever the file system.
    identity.is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

// Opens `path` and tells what it is. A name with a NUL byte and a
// directory are refused.
HANDLE open_identified(std::string_view path, DWORD access, DWORD disposition,
                       Identity& identity) {
    if (has_nul(path)) return INVALID_HANDLE_VALUE;
    const HANDLE handle = open_handle(path, access, disposition);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    if (!identify(handle, identity) || identity.is_directory) {
        ::CloseHandle(handle);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

HANDLE standard_output() { return ::GetStdHandle(STD_OUTPUT_HANDLE); }

bool write_all(HANDLE handle, const char* bytes, std::size_t count) {
    while (count > 0) {
        const auto piece = static_cast<DWORD>(std::min(count, largest_transfer));
        DWORD written = 0;
        if (!::WriteFile(handle, bytes, piece, &written, nullptr) || written == 0) return false;
        bytes += written;
        count -= written;
    }
    return true;
}

}  // namespace

ReadResult File::read(char* into, std::size_t capacity) {
    const auto piece = static_cast<DWORD>(std::min(capacity, largest_transfer));
    DWORD count = 0;
    if (::ReadFile(handle_of(handle_), into, piece, &count, nullptr)) return {count, false};
    // A pipe whose writer has gone has simply ended.
    if (::GetLastError() == ERROR_BROKEN_PIPE) return {0, false};
    return {0, true};
}

bool File::write(const char* bytes, std::size_t count) {
    return write_all(handle_of(handle_), bytes, count);
}

bool File::close() {
    if (!is_open()) return true;
    const HANDLE handle = handle_of(handle_);
    handle_ = closed_handle;
    return ::CloseHandle(handle) != 0;
}

bool File::open_for_reading(std::string_view path, File& file) {
    Identity identity;
    const HANDLE handle = open_identified(path, GENERIC_READ, OPEN_EXISTING, identity);
    if (handle == INVALID_HANDLE_VALUE) return false;
    file = File(reinterpret_cast<std::intptr_t>(handle), identity.id);
    return true;
}

bool File::open_for_writing(std::string_view path, std::span<const FileId> guarded,
                            File& file) {
    // OPEN_ALWAYS rather than CREATE_ALWAYS: the file must be known not to
    // be guarded before it loses a byte.
    Identity identity;
    const HANDLE handle = open_identified(path, GENERIC_WRITE, OPEN_ALWAYS, identity);
    if (handle == INVALID_HANDLE_VALUE) return false;
    File opened(reinterpret_cast<std::intptr_t>(handle), identity.id);
    for (const FileId& id : guarded) {
        if (id == opened.id_) return false;
    }
    // The handle stands at offset 0, so this empties the file.
    if (identity.is_disk_file && !::SetEndOfFile(handle)) return false;
    file = std::move(opened);
    return true;
}

void prepare_process() {
    // A standard output handle that was closed before the start could be
    // reused by the next file opened, and the report would land in it.
    const HANDLE output = standard_output();
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    if (::GetFileType(output) == FILE_TYPE_UNKNOWN && ::GetLastError() == ERROR_INVALID_HANDLE) {
        const HANDLE discard = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                             OPEN_EXISTING, 0, nullptr);
        if (discard != INVALID_HANDLE_VALUE) ::SetStdHandle(STD_OUTPUT_HANDLE, discard);
    }
}

// Standard output keeps the text mode of a Windows console program: each
// "\n" goes out as CR LF, in pieces so that no report is copied whole. A
// successful write is taken as whole: some consoles count characters
// rather than bytes written, and resending "the rest" would repeat text.
void write_console(const char* bytes, std::size_t count) {
    const HANDLE output = standard_output();
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

bool console_is_interactive() {
    DWORD mode = 0;
    return ::GetConsoleMode(standard_output(), &mode) != 0;
}

// A console set to code page 65001 reads UTF-8; any other reads the
// Shift_JIS bytes, as code page 932 does.
bool console_prefers_utf8() {
    constexpr UINT utf8_code_page = 65001;
    return console_is_interactive() && ::GetConsoleOutputCP() == utf8_code_page;
}

}  // namespace kerfline
