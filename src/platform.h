// The thin layer between the tool and the operating system: files opened,
// read and written as raw bytes, their identity, and the console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kerfline {

struct ReadResult {
    std::size_t count = 0;  // 0 with !failed means end of file
    bool failed = false;
};

// Why a file could not be opened, read, written or closed: the operating
// system's error code (errno, or GetLastError() on Windows), or what this
// layer found before it asked the system. Whether the tool will use a file
// the system opens is not decided here.
struct FileError {
    enum class Kind {
        system,
        directory,
        nul_in_name,
        name_outside_code_page,  // a Windows name with bytes the code page lacks
        would_wait,              // an open told not to wait for another program
        shrank,                  // a file on disk grew shorter than what was read of it
    };
    Kind kind = Kind::system;
    std::uint32_t system_code = 0;
    std::uint32_t code_page = 0;  // for name_outside_code_page

    static FileError system(std::uint32_t code) { return {Kind::system, code}; }
};

// The operating system's own words for one of its error codes: one line,
// without the full stop the system ends it with, in `buffer` or static text.
std::string_view describe_system_error(std::uint32_t code, char (&buffer)[512]);

class ByteSource {
public:
    virtual ReadResult read(char* into, std::size_t capacity) = 0;

protected:
    ~ByteSource() = default;
};

class ByteSink {
public:
    // Writes every byte or reports failure.
    virtual bool write(const char* bytes, std::size_t count) = 0;

protected:
    ~ByteSink() = default;
};

// What the system tells of an open file that says which file it is: its
// volume and its index there, and, for a file seen under two names that
// show other volumes (an overlay mount and the folder beneath it), its size
// and when it was last changed.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;  // since an epoch of the system's own
};

// Paths are bytes followed by a NUL that is not one of them, as a C string
// or a form's field is, so that the system takes them without a copy. A NUL
// among the bytes names no file.
class File final : public ByteSource, public ByteSink {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : File() { *this = std::move(other); }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            id_ = other.id_;
            on_disk_ = other.on_disk_;
            holds_bytes_ = other.holds_bytes_;
            created_ = other.created_;
            identified_ = other.identified_;
            error_ = other.error_;
            read_ = other.read_;
            largest_size_ = other.largest_size_;
            other.handle_ = closed_handle;
        }
        return *this;
    }
    ~File() { close(); }

    bool is_open() const { return handle_ != closed_handle; }
    FileId id() const { return id_; }
    // A file on disk, not a pipe, a terminal or a device: a write to it
    // never waits for another program.
    bool on_disk() const { return on_disk_; }
    // Whether id() tells which file this is: once it is open, or when an
    // open failed only because another program holds the file.
    bool identified() const { return is_open() || identified_; }
    // Why the last open, read, write or close of this file failed.
    const FileError& error() const { return error_; }

    // A file on disk that a read finds shorter than what was read of it (a
    // log truncated under the run) fails as shrank: what follows would be
    // another file's bytes.
    ReadResult read(char* into, std::size_t capacity) override;
    bool write(const char* bytes, std::size_t count) override;
    // Closes now and tells whether everything written reached the file.
    bool close();
    // Closes without a word a file the tool will not use, and removes it
    // from `path` when the open that gave it created it.
    void discard(std::string_view path);

    // Opens an existing file for reading. Directories are refused. On
    // failure `file` is closed and tells why. A FIFO's open waits for a
    // writer: there is no asking first, as opened without waiting it would
    // read as empty.
    static bool open_for_reading(std::string_view path, File& file);
    // Opens for writing, creating the file if it is missing, but leaves its
    // bytes alone: what it is must be known before it loses any. An open
    // that fails takes back the file it created. Unless `may_wait`, an open
    // that would wait for another program (a FIFO without a reader, a file
    // whose lease must be broken) fails as would_wait instead.
    static bool open_for_writing(std::string_view path, bool may_wait, File& file);
    // Empties a file opened for writing, when it is a file on disk that
    // holds bytes: devices and pipes have nothing to empty.
    bool truncate();

    // Where overlay mounts show this file, copied up or not: its own path
    // and the others, in the mount and in its layers, each with no link,
    // "." or ".."; none when no overlay mount shows it. False when memory
    // runs out.
    bool overlay_paths(std::vector<std::string>& paths) const;

private:
    static constexpr std::intptr_t closed_handle = -1;
    File(std::intptr_t handle, FileId id, bool on_disk, bool created)
        : handle_(handle), id_(id), on_disk_(on_disk), holds_bytes_(on_disk && id.size != 0),
          created_(created), largest_size_(id.size) {}
    // Each records why this file failed and returns false; give_up closes
    // it first.
    bool fail_with_system_error();
    bool give_up(FileError why);

    std::intptr_t handle_ = closed_handle;
    FileId id_;
    bool on_disk_ = false;
    bool holds_bytes_ = false;  // a file on disk, not empty when opened
    bool created_ = false;
    bool identified_ = false;  // by a failed open
    FileError error_;
    std::uint64_t read_ = 0;          // bytes read so far
    std::uint64_t largest_size_ = 0;  // of a file on disk, as seen so far
};

// What a name names, told by a look at it that opens nothing: a FIFO's
// open would wait for a reader, an open for writing would copy an overlay
// mount's file up. The look follows links as an open does.
struct LookUp {
    enum class Kind { missing, file, directory, character_device, block_device, fifo, socket, other };
    Kind kind = Kind::missing;
    FileId id;  // when it is there
    // Why an open for writing would fail, when a look can tell: a name the
    // system cannot take, a folder; and, asked to foresee what an open
    // would meet, a folder that is missing or may not be written in, a file
    // that may not be written.
    std::optional<FileError> error;
};
LookUp look_up(std::string_view path, bool foresee = false);

// Process set-up before anything is written: a console that goes away, or
// a file-size limit, must not end the run, and a standard stream closed at
// the start stays closed: nothing is written there, and no file opened
// later takes its place, on POSIX systems its number, which /dev/stdout
// and the like would name.
void prepare_process();

// The arguments as the tool takes them, the program's name first. On Windows
// they come from the wide command line, each converted to the ANSI code page
// exactly, as a name in a form must be: the C runtime's argv is converted
// with the code page's best-fit table, where "plan-ß.form" becomes
// "plan-s.form", another file. One that does not convert holds '?' for what
// the code page lacks and is marked inexact.
struct CommandLine {
    int count = 0;
    const char* const* arguments = nullptr;
    const bool* inexact = nullptr;  // per argument; none is when null
    std::uint32_t code_page = 0;    // the one they were converted to
    bool is_exact(int index) const { return inexact == nullptr || !inexact[index]; }
};
#ifdef _WIN32
CommandLine command_line(int argc, wchar_t** argv);
#else
CommandLine command_line(int argc, char** argv);
#endif

// Calls `stop` with the stop's number when a stop comes from outside:
// SIGINT, SIGTERM or SIGHUP, unless ignored when the run began, or Ctrl+C
// and Ctrl+Break on a Windows console. `stop` may do only what a signal
// handler may; it ends the run by end_as_stopped, or returns and leaves that
// to the run. On Windows it runs beside the run, in a thread of its own,
// and the run is ended at the latest two seconds after.
void on_stop(void (*stop)(int which));
// Ends the run as stop `which` ends a program that does not catch it.
[[noreturn]] void end_as_stopped(int which);
// Waits for a stop under way beside the run to end it.
[[noreturn]] void wait_for_the_end();
// For a stop: writes to standard output, a pipe or a terminal, return at
// once rather than wait for a reader, until output_may_wait_again() puts
// standard output back as the programs that share it had it. Safe in a
// signal handler. On Windows the stop's two seconds bound the wait instead.
void output_waits_no_more();
void output_may_wait_again();

enum class StandardStream { input, output, error };

// What a standard stream is, when it is open: its file's identity, and
// whether that is a file on disk, which the run appends to, a pipe or a
// terminal, rather than a device.
struct StandardFile {
    FileId id;
    bool on_disk = false;
    bool pipe = false;
    bool terminal = false;
};
std::optional<StandardFile> standard_file(StandardStream stream);
// Where overlay mounts show a standard stream's file, as File::overlay_paths.
bool standard_stream_overlay_paths(StandardStream stream, std::vector<std::string>& paths);

// Where `path` is, or would be created by an open that follows its links:
// one path with no link, "." or ".." in it; empty when that cannot be told.
// False when memory runs out.
bool where_is(std::string_view path, std::string& where);

// A raw write to standard output or standard error; a failure is ignored
// by design. On Windows each "\n" goes out as CR LF, as a console
// program's text mode writes it, and a console takes the bytes, UTF-8, as
// UTF-16.
void write_standard(StandardStream stream, const char* bytes, std::size_t count);

// What a person reads a standard stream on, if anyone does: nothing (a
// file, a pipe or a closed stream, which get the report's bytes as they
// are), a screen that reads UTF-8, or one that reads Shift_JIS. A POSIX
// terminal reads UTF-8 when its locale names it, Shift_JIS otherwise; a
// Windows console reads UTF-8 whatever its code page: write_standard turns
// it into UTF-16 for it.
enum class Screen { none, shift_jis, utf8 };
Screen screen_of(StandardStream stream);

// The code page the system reads names in: on Windows the ANSI code page,
// elsewhere 0, as names there are bytes of no stated encoding.
std::uint32_t names_code_page();
// The character that `bytes` begin with in `code_page` (not 0), as the
// system reads it: its length in bytes, with its code point in
// `character`, or 0 when the bytes there are no character of it.
std::size_t code_page_character(std::uint32_t code_page, std::string_view bytes,
                                char32_t& character);

// Whether a POSIX locale name such as "ja_JP.UTF-8@x" asks for UTF-8.
bool locale_names_utf8(std::string_view locale);

}  // namespace kerfline
