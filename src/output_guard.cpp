#include "output_guard.h"

#include <algorithm>

namespace kerfline {

namespace {

bool look_alike(const FileId& one, const FileId& other) {
    return one.index == other.index && one.size == other.size &&
           one.modified_ns == other.modified_ns;
}

bool same_index(const FileId& one, const FileId& other) {
    return one.volume == other.volume && one.index == other.index;
}

constexpr StandardStream report = StandardStream::output;
constexpr StandardStream errors = StandardStream::error;

}  // namespace

std::optional<OutputGuard::Guarded> OutputGuard::standard(StandardStream stream, bool& complete) {
    const std::optional<StandardFile> file = standard_file(stream);
    if (!file) return std::nullopt;
    Guarded guarded{file->id, file->on_disk, file->on_disk || file->pipe || file->terminal,
                    file->terminal, {}};
    if (file->on_disk && !standard_stream_overlay_paths(stream, guarded.overlay_paths)) complete = false;
    return guarded;
}

OutputGuard::OutputGuard()
    : report_(standard(report, complete_)), errors_(standard(errors, complete_)) {
    const std::optional<StandardFile> input = standard_file(StandardStream::input);
    if (input && input->terminal) terminal_input_ = input->id;
}

bool OutputGuard::protect(const File& form, const File& input) {
    form_ = Guarded{form.id(), form.on_disk(), true, false, {}};
    input_ = Guarded{input.id(), input.on_disk(), true, false, {}};
    if (!form.overlay_paths(form_->overlay_paths) || !input.overlay_paths(input_->overlay_paths)) {
        complete_ = false;
    }
    return complete_;
}

// Whether `other` is the guarded file: the same index on the same volume,
// or, for a file on disk, on another volume with the same size and last
// change to the nanosecond, as an overlay mount shows a file of a folder
// beneath it. Strangers that share an index on two file systems differ in
// one or the other; a file and its unchanged twin in a snapshot do not,
// and are kept apart, the safe way. A standard stream's file, which the run
// appends to, is compared as it was at the start and as it is now: its copy
// made by the overlay when it was opened matches the first, a copy made
// when the output is opened the second. A copy made before the run, which
// has an index of its own, is known by the overlay's paths.
bool OutputGuard::is_guarded(const std::optional<Guarded>& guarded, const FileId& other,
                             const StandardStream* stream) {
    if (!guarded || guarded->id.index != other.index) return false;
    if (same_index(guarded->id, other)) return true;
    if (!guarded->on_disk) return false;
    if (look_alike(guarded->id, other)) return true;
    if (stream == nullptr) return false;
    const std::optional<StandardFile> now = standard_file(*stream);
    return now && look_alike(now->id, other);
}

bool OutputGuard::shown_at(const std::optional<Guarded>& guarded, std::string_view where) {
    if (!guarded || where.empty()) return false;
    const std::vector<std::string>& paths = guarded->overlay_paths;
    return std::find(paths.begin(), paths.end(), where) != paths.end();
}

Refusal OutputGuard::refusal_by_place(std::string_view path, bool writing) const {
    const bool through_overlay = [&] {
        for (const auto* guarded : {&report_, &errors_, &form_, &input_}) {
            if (*guarded && !(*guarded)->overlay_paths.empty()) return true;
        }
        return false;
    }();
    if (!through_overlay) return Refusal::none;
    std::string where;
    if (!where_is(path, where)) return Refusal::out_of_memory;
    if (shown_at(report_, where)) return writing ? Refusal::output_is_report : Refusal::read_is_report;
    if (shown_at(errors_, where)) {
        return writing ? Refusal::output_is_error_stream : Refusal::read_is_error_stream;
    }
    if (writing && shown_at(form_, where)) return Refusal::output_is_form;
    if (writing && shown_at(input_, where)) return Refusal::output_is_input;
    return Refusal::none;
}

Refusal OutputGuard::refusal_to_read(const File& file, std::string_view path) const {
    // A device such as /dev/null gives back nothing written to it, and
    // standard input's terminal is read as the keyboard, by whichever name.
    auto reads_back = [&](const std::optional<Guarded>& guarded, StandardStream stream) {
        return is_guarded(guarded, file.id(), &stream) && guarded->read_back &&
               !(guarded->terminal && terminal_input_ && same_index(*terminal_input_, file.id()));
    };
    if (reads_back(report_, report)) return Refusal::read_is_report;
    if (reads_back(errors_, errors)) return Refusal::read_is_error_stream;
    return refusal_by_place(path, false);
}

Refusal OutputGuard::refusal_to_write(const FileId& id) const {
    // A pipe or a terminal takes an output.
    if (report_ && report_->on_disk && is_guarded(report_, id, &report)) return Refusal::output_is_report;
    if (errors_ && errors_->on_disk && is_guarded(errors_, id, &errors)) {
        return Refusal::output_is_error_stream;
    }
    if (is_guarded(form_, id)) return Refusal::output_is_form;
    if (is_guarded(input_, id)) return Refusal::output_is_input;
    return Refusal::none;
}

Refusal OutputGuard::refusal_before_open(std::string_view path, const LookUp& look) const {
    if (look.kind != LookUp::Kind::missing) {
        if (const Refusal refusal = refusal_to_write(look.id); refusal != Refusal::none) return refusal;
    }
    return refusal_by_place(path, true);
}

bool OutputGuard::open_output(std::string_view path, bool may_wait, File& file,
                              Failure& why) const {
    if (const Refusal refusal = refusal_before_open(path, look_up(path)); refusal != Refusal::none) {
        file = File();
        why = refusal;
        return false;
    }
    const bool opened = File::open_for_writing(path, may_wait, file);
    // A file another program holds cannot be opened, but may be known: the
    // file a Windows shell sends the report to, refused for what it is.
    if (opened || file.identified()) {
        if (const Refusal refusal = refusal_to_write(file.id()); refusal != Refusal::none) {
            file.discard(path);
            why = refusal;
            return false;
        }
    }
    if (opened) return true;
    why = file.error();
    return false;
}

}  // namespace kerfline
