// The thin layer between the tool and the operating system: files opened,
// read and written as raw bytes, their identity, and the console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
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
    enum class Refusal { none, directory, nul_in_name, guarded };
    std::uint32_t system_code = 0;
    Refusal refusal = Refusal::none;
    std::size_t guarded_index = 0;  // which of the guarded files it is
};

// The operating system's own words for one of its error codes, one line.
std::string describe_system_error(std::uint32_t code);

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

// What makes two open files the same file, however they were named.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileId&) const = default;
};

class File final : public ByteSource, public ByteSink {
public:
    File() = default;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : handle_(other.handle_), id_(other.id_), error_(other.error_) {
        other.handle_ = closed_handle;
    }
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            id_ = other.id_;
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

    // Opens an existing file for reading. Directories are refused. On
    // failure `file` is closed and tells why.
    static bool open_for_reading(std::string_view path, File& file);
    // Opens for writing, creating the file if it is missing, and empties it
    // if it is a regular file. Refused without touching anything when it is
    // one of `guarded`, so the tool never truncates what it reads.
    static bool open_for_writing(std::string_view path, std::span<const FileId> guarded,
                                 File& file);

private:
    static constexpr std::intptr_t closed_handle = -1;
    File(std::intptr_t handle, FileId id) : handle_(handle), id_(id) {}
    // Each records why this file failed and returns false.
    bool fail_with_system_error();
    bool refuse(FileError::Refusal refusal, std::size_t guarded_index = 0) {
        error_ = {0, refusal, guarded_index};
        return false;
    }

    std::intptr_t handle_ = closed_handle;
    FileId id_;
    FileError error_;
};

// Process set-up before anything is written: a console that goes away, or
// a file-size limit, must not end the run.
void prepare_process();

// Raw writes to standard output and standard error; failures are ignored
// by design.
void write_console(const char* bytes, std::size_t count);
void write_error_stream(const char* bytes, std::size_t count);

bool console_is_interactive();

// True when the console reads UTF-8 rather than Shift_JIS.
bool console_prefers_utf8();

}  // namespace kerfline
