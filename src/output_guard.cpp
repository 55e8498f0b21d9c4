#include "output_guard.h"

namespace kerfline {

namespace {

bool look_alike(const FileId& one, const FileId& other) {
    return one.index == other.index && one.size == other.size &&
           one.modified_ns == other.modified_ns;
}

// Whether `other` is the guarded file: the same index on the same volume,
// or on another volume with the same size and last change to the
// nanosecond, as an overlay mount shows a file of a folder beneath it.
// Strangers that share an index on two file systems differ in one or the
// other; a file and its unchanged twin in a snapshot do not, and are kept
// apart, the safe way. A standard stream's file, which the run appends to,
// is compared as it was at the start and as it is now: its copy made by
// the overlay when it was opened matches the first, a copy made when the
// output is opened the second.
bool is_guarded(const std::optional<FileId>& guarded, const FileId& other,
                const StandardStream* stream = nullptr) {
    if (!guarded || guarded->index != other.index) return false;
    if (guarded->volume == other.volume || look_alike(*guarded, other)) return true;
    if (stream == nullptr) return false;
    const std::optional<FileId> now = standard_stream_file(*stream);
    return now && look_alike(*now, other);
}

constexpr StandardStream report = StandardStream::output;
constexpr StandardStream errors = StandardStream::error;

}  // namespace

OutputGuard::OutputGuard()
    : report_(standard_stream_file(StandardStream::output)),
      errors_(standard_stream_file(StandardStream::error)) {}

void OutputGuard::protect(const File& form, const File& input) {
    form_ = form.id();
    input_ = input.id();
}

Refusal OutputGuard::refusal_to_read(const File& file) const {
    if (is_guarded(report_, file.id(), &report)) return Refusal::read_is_report;
    if (is_guarded(errors_, file.id(), &errors)) return Refusal::read_is_error_stream;
    return Refusal::none;
}

Refusal OutputGuard::refusal_to_write(const FileId& id) const {
    if (is_guarded(report_, id, &report)) return Refusal::output_is_report;
    if (is_guarded(errors_, id, &errors)) return Refusal::output_is_error_stream;
    if (is_guarded(form_, id)) return Refusal::output_is_form;
    if (is_guarded(input_, id)) return Refusal::output_is_input;
    return Refusal::none;
}

bool OutputGuard::open_output(std::string_view path, bool may_wait, File& file,
                              Failure& why) const {
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
