// The files an output must never be, and the one way outputs are opened.
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
    // Guards `id`; an output that is that file is refused as `refusal`.
    void protect(FileId id, FileError::Refusal refusal);
    void protect_standard_streams();

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
