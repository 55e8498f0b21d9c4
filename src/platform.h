// The thin layer between the tool and the operating system: files opened,
// read and written as raw bytes, their identity, and the console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kerfline {

struct ReadResult {
    std::size_t count = 0;  // 0 with !failed means end of file
    bool failed = false;
};

// Why a file could not be opened, read, written or closed: the operating
// system's error code (errno, or GetLastError() on Windows), or a refusal
// of the tool's own.
struct FileError {
    enum class Refusal {
        none,
        directory,
        nul_in_name,
        name_outside_code_page,  // a Windows name with bytes the code page lacks
        output_is_form,
        output_is_input,
        output_is_report,        // standard output, when it is a file
        output_is_error_stream,  // standard error, when it is a file
        read_is_report,          // a form or input that standard output goes to
        read_is_error_stream,    // likewise standard error
        form_line_too_long,      // for memory
    };
    std::uint32_t system_code = 0;
    Refusal refusal = Refusal::none;
    std::uint32_t code_page = 0;  // for name_outside_code_page
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

// Told before the tool waits for another program, as an open of a FIFO
// waits for its other end, so that what it has to say is out first.
class BeforeWaiting {
public:
    virtual void before_waiting() = 0;

protected:
    ~BeforeWaiting() = default;
};

// What makes two open files the same file, however they were named.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

// Paths are bytes followed by a NUL that is not one of them, as a C string
// or a form's field is, so that the system takes them without a copy. A NUL
// among the bytes names no file.
class File final : public ByteSource, public ByteSink {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept
        : handle_(other.handle_), id_(other.id_), holds_bytes_(other.holds_bytes_),
          error_(other.error_) {
        other.handle_ = closed_handle;
    }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            id_ = other.id_;
            holds_bytes_ = other.holds_bytes_;
            error_ = other.error_;
            other.handle_ = closed_handle;
        }
        return *this;
    }
    ~File() { close(); }

    bool is_open() const { return handle_ != closed_handle; }
    FileId id() const { return id_; }
    // Why the last open, read, write or close of this file failed.
    const FileError& error() const { return error_; }

    ReadResult read(char* into, std::size_t capacity) override;
    bool write(const char* bytes, std::size_t count) override;
    // Closes now and tells whether everything written reached the file.
    bool close();
    // Closes without a word, records why the tool would not use the file,
    // and returns false.
    bool refuse(FileError::Refusal refusal) { return give_up({0, refusal}); }

    // Opens an existing file for reading. Directories are refused. On
    // failure `file` is closed and tells why. `waiting` is told first when
    // the open may wait for another program.
    static bool open_for_reading(std::string_view path, BeforeWaiting& waiting, File& file);
    // Opens for writing, creating the file if it is missing, but leaves its
    // bytes alone: what it is must be known before it loses any.
    static bool open_for_writing(std::string_view path, BeforeWaiting& waiting, File& file);
    // Empties a file opened for writing, when it is a file on disk that
    // holds bytes: devices and pipes have nothing to empty.
    bool truncate();

private:
    static constexpr std::intptr_t closed_handle = -1;
    File(std::intptr_t handle, FileId id, bool holds_bytes)
        : handle_(handle), id_(id), holds_bytes_(holds_bytes) {}
    // Each records why this file failed and returns false; give_up closes
    // it first.
    bool fail_with_system_error();
    bool give_up(FileError why);

    std::intptr_t handle_ = closed_handle;
    FileId id_;
    bool holds_bytes_ = false;  // a file on disk, not empty when opened
    FileError error_;
};

// Process set-up before anything is written: a console that goes away, or
// a file-size limit, must not end the run.
void prepare_process();

enum class StandardStream { output, error };

// The identity of a standard stream when it is a file on disk, which the
// run appends to; a terminal, a pipe or a closed stream has none.
std::optional<FileId> standard_stream_file(StandardStream stream);

// A raw write to standard output or standard error; a failure is ignored
// by design. On Windows each "\n" goes out as CR LF, as a console
// program's text mode writes it.
void write_standard(StandardStream stream, const char* bytes, std::size_t count);

// Whether standard output is a terminal.
bool console_is_interactive();

// True when the console reads UTF-8 rather than Shift_JIS: on Windows, a
// console set to code page 65001; elsewhere, a terminal whose locale names
// UTF-8.
bool console_prefers_utf8();

// Whether a POSIX locale name such as "ja_JP.UTF-8@x" asks for UTF-8.
bool locale_names_utf8(std::string_view locale);

}  // namespace kerfline
