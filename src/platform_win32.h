// What the two halves of the Windows platform layer share: names in the
// ANSI code page, and what an open handle says of its file.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "platform.h"

namespace kerfline::win32 {

// The longest path the wide functions take, in UTF-16 units.
constexpr std::size_t longest_path = 32767;

// `path` in UTF-16, converted from the ANSI code page as the ...A functions
// convert it, but exactly or not at all: where they would put a stand-in
// for bytes the code page lacks, two names could become one file.
bool from_code_page(std::string_view path, std::wstring& wide, FileError& error);

struct Identity {
    FileId id;
    bool is_disk_file = false;
    bool is_directory = false;
    bool read_only = false;
    bool created = false;
    bool known = false;  // by its attributes alone, when it could not be opened
};

// Disk files are known by volume serial number and file index. Devices and
// pipes have no such identity; each gets its own handle's value, which no
// other open file shares, so it never looks like a guarded file.
bool identify(HANDLE handle, Identity& identity);

}  // namespace kerfline::win32
