// The files an output must never be, the one way outputs are opened, and
// the files the run may not read.
#pragma once

#include <optional>
#include <string_view>

#include "error_line.h"
#include "platform.h"

namespace kerfline {

// The files the run reads or writes besides its outputs: the form and the
// input, and standard output and error when they are files on disk. An
// output that is one of them, however it is named (another spelling, a
// link, /dev/stdout, an overlay mount), would overwrite what is still to be
// read, or mix its bytes with the report's. A terminal or a pipe is not
// guarded: a section written to /dev/stdout on a pipe is a way to use the
// tool.
class OutputGuard {
public:
    // Guards standard output and error when they are files.
    OutputGuard();
    // Guards the form and the input once both are open.
    void protect(const File& form, const File& input);

    // What refuses a form or an input that standard output or error goes
    // to, or Refusal::none: the run would read its own report back, as
    // form lines or as the section that takes the rest of the input.
    Refusal refusal_to_read(const File& file) const;

    // Opens `path` for writing, unless it is a guarded file: that is refused
    // before a byte of it changes. Returns false, with `why`, when the
    // output cannot or may not be used; `may_wait` as for
    // File::open_for_writing. The caller empties it.
    bool open_output(std::string_view path, bool may_wait, File& file, Failure& why) const;

private:
    Refusal refusal_to_write(const FileId& id) const;

    // Each guarded file by name, so that none can be dropped for want of
    // room.
    std::optional<FileId> report_;
    std::optional<FileId> errors_;
    std::optional<FileId> form_;
    std::optional<FileId> input_;
};

}  // namespace kerfline
