// The files an output must never be, the one way outputs are opened, and
// the files the run may not read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error_line.h"
#include "platform.h"

namespace kerfline {

// The files the run reads or writes besides its outputs: the form and the
// input, and standard output and error when they are files on disk. An
// output that is one of them, however it is named (another spelling, a
// link, /dev/stdout, an overlay mount's folders), would overwrite what is
// still to be read, or mix its bytes with the report's. A terminal or a
// pipe takes an output: a section written to /dev/stdout on a pipe is a way
// to use the tool. But no standard output or error, file, pipe or terminal,
// is read as the form or the input: the run would read its own report back.
class OutputGuard {
public:
    // Knows standard output and error, and guards them when they are files.
    OutputGuard();
    // Guards the form and the input once both are open. False when memory
    // runs out.
    bool protect(const File& form, const File& input);

    // What refuses `file`, opened as a form or an input from `path`, that
    // standard output or error goes to, or Refusal::none.
    Refusal refusal_to_read(const File& file, std::string_view path) const;

    // What refuses `path` as an output before it is opened, from what a look
    // at it found, or Refusal::none: a guarded file is never created,
    // opened for writing or copied up by an overlay mount.
    Refusal refusal_before_open(std::string_view path, const LookUp& look) const;

    // Opens `path` for writing, unless it is a guarded file: that is refused
    // before a byte of it changes, by a look at the name and again once it
    // is open, for what changed in between. Returns false, with `why`, when
    // the output cannot or may not be used; `may_wait` as for
    // File::open_for_writing. The caller empties it.
    bool open_output(std::string_view path, bool may_wait, File& file, Failure& why) const;

private:
    struct Guarded {
        FileId id;
        bool on_disk = true;
        bool read_back = true;  // a file on disk, a pipe or a terminal, not a device
        bool terminal = false;
        // Where overlay mounts show it, when they do.
        std::vector<std::string> overlay_paths;
    };
    static std::optional<Guarded> standard(StandardStream stream, bool& complete);
    static bool is_guarded(const std::optional<Guarded>& guarded, const FileId& other,
                           const StandardStream* stream = nullptr);
    static bool shown_at(const std::optional<Guarded>& guarded, std::string_view where);
    Refusal refusal_to_write(const FileId& id) const;
    // What refuses `path` by where an overlay mount shows a guarded file;
    // the files the run reads as well when `writing`.
    Refusal refusal_by_place(std::string_view path, bool writing) const;

    // Each guarded file by name, so that none can be dropped for want of
    // room.
    std::optional<Guarded> report_;
    std::optional<Guarded> errors_;
    std::optional<Guarded> form_;
    std::optional<Guarded> input_;
    // Standard input, when it is a terminal: reading that is what
    // /dev/stdin means, whichever name it has.
    std::optional<FileId> terminal_input_;
    bool complete_ = true;  // memory sufficed to list the overlay paths
};

}  // namespace kerfline
