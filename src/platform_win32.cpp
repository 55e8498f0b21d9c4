// Windows side of the platform layer: files. Paths are the bytes main()
// received, in the ANSI code page; they reach the wide functions converted,
// so that they may be longer than 260 characters.
#include "platform_win32.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>

namespace kerfline {

using win32::from_code_page;
using win32::Identity;
using win32::identify;
using win32::longest_path;

namespace {

// ReadFile and WriteFile count in DWORDs; larger requests go in pieces.
constexpr std::size_t largest_transfer = std::size_t{1} << 30;

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// A name with a NUL byte cannot reach the system whole, so it names no file.
bool has_nul(std::string_view path) { return path.find('\0') != std::string_view::npos; }

FileError last_system_error() { return FileError::system(::GetLastError()); }

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
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

}  // namespace

bool win32::identify(HANDLE handle, Identity& identity) {
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
    identity.read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return true;
}

bool win32::from_code_page(std::string_view path, std::wstring& wide, FileError& error) {
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
    if (::ReadFile(handle_of(handle_), into, piece, &count, nullptr)) {
        read_ += count;
        // A short read of a file on disk is its end as it now stands: one
        // before what was read means the file was cut under the run.
        LARGE_INTEGER size;
        if (on_disk_ && count < piece && ::GetFileSizeEx(handle_of(handle_), &size)) {
            const auto now = static_cast<std::uint64_t>(size.QuadPart);
            if (now < read_ && now < largest_size_) {
                error_ = {FileError::Kind::shrank};
                return {0, true};
            }
            largest_size_ = std::max(largest_size_, now);
        }
        return {count, false};
    }
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

// Windows has no overlay mounts.
bool File::overlay_paths(std::vector<std::string>& paths) const {
    paths.clear();
    return true;
}

// The full path, in UTF-8, in upper case: Windows names differ in letter
// case only as one file, and lose trailing dots and spaces on the way.
bool where_is(std::string_view path, std::string& where) {
    where.clear();
    try {
        std::wstring name;
        FileError ignored;
        if (!wide_path(path, name, ignored)) return true;
        const DWORD needed = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
        if (needed == 0) return true;
        std::wstring full(needed, L'\0');
        const DWORD length = ::GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
        if (length == 0 || length >= needed) return true;
        full.resize(length);
        ::LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, full.data(), static_cast<int>(length),
                       full.data(), static_cast<int>(length));
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, full.data(), static_cast<int>(length),
                                               nullptr, 0, nullptr, nullptr);
        where.resize(static_cast<std::size_t>(std::max(size, 0)));
        ::WideCharToMultiByte(CP_UTF8, 0, full.data(), static_cast<int>(length), where.data(), size,
                              nullptr, nullptr);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// An open of the attributes alone: no data access, so another program's
// sharing does not stand in its way, and a FIFO or a device is not waited
// on. Backup semantics let it open a folder. It tells all there is to
// foresee at once.
LookUp look_up(std::string_view path, bool) {
    LookUp look;
    std::wstring name;
    FileError error;
    if (!wide_path(path, name, error)) {
        look.error = error;
        return look;
    }
    // A device (NUL, COM1, a named pipe) is not opened to be looked at: a
    // pipe would count the look as a client, a port could answer it. No
    // device is a file the guard keeps.
    wchar_t full[16];
    const DWORD length =
        ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(std::size(full)), full, nullptr);
    const std::wstring_view device = length > 0 && length < std::size(full) ? full : name;
    if (device.starts_with(L"\\\\.\\")) {
        look.kind = device.substr(4).starts_with(L"pipe\\") ? LookUp::Kind::fifo
                                                           : LookUp::Kind::character_device;
        return look;
    }
    constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = ::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // Missing, its folder there: the open will make it.
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) look.error = last_system_error();
        return look;
    }
    Identity identity;
    const DWORD type = ::GetFileType(handle);
    const bool identified = identify(handle, identity);
    ::CloseHandle(handle);
    using enum LookUp::Kind;
    look.kind = type == FILE_TYPE_CHAR ? character_device : type == FILE_TYPE_PIPE ? fifo
              : identity.is_directory ? directory : identified ? file : other;
    look.id = identity.id;
    if (look.kind == directory) look.error = FileError{FileError::Kind::directory};
    if (look.kind == file && identity.read_only) look.error = FileError::system(ERROR_ACCESS_DENIED);
    return look;
}

bool File::truncate() {
    // The handle stands at offset 0, so this empties the file.
    if (!holds_bytes_ || ::SetEndOfFile(handle_of(handle_))) return true;
    return give_up(last_system_error());
}

}  // namespace kerfline
