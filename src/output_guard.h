// The files an output must never be, the one way outputs are opened, and
// the files the run may not read.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform.h"

namespace kerfline {

// The files the run reads or writes besides its outputs: the form and the
// input, and standard output and error when they are files on disk. An
// output that is one of them, however it is named (another spelling, a
// link, /dev/stdout), would overwrite what is still to be read, or mix its
// bytes with the report's. A terminal or a pipe is not guarded: a section
// written to /dev/stdout on a pipe is a way to use the tool.
class OutputGuard {
public:
    // Guards standard output and error when they are files.
    OutputGuard();
    // Guards `id`; an output that is that file is refused as `refusal`.
    void protect(FileId id, FileError::Refusal refusal);

    // Refuses, closing it, a form or an input that standard output or error
    // goes to: the run would read its own report back, as form lines or
    // as the section that takes the rest of the input.
    bool admit_for_reading(File& file) const;

    // Opens `path` for writing and empties it, unless it is a guarded file:
    // that is refused before a byte of it changes.
    bool open_output(std::string_view path, BeforeWaiting& waiting, File& file) const;

private:
    struct Guarded {
        FileId id;
        FileError::Refusal refusal;
    };
    Guarded guarded_[4];
    std::size_t count_ = 0;
};

}  // namespace kerfline
