#include "output_guard.h"

namespace kerfline {

namespace {

using Refusal = FileError::Refusal;

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
    const std::optional<FileId> now = stream != nullptr ? standard_stream_file(*stream) : guarded;
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

bool OutputGuard::admit_for_reading(File& file) const {
    if (is_guarded(report_, file.id(), &report)) return file.refuse(Refusal::read_is_report);
    if (is_guarded(errors_, file.id(), &errors)) return file.refuse(Refusal::read_is_error_stream);
    return true;
}

std::optional<Refusal> OutputGuard::refusal_for(const FileId& id) const {
    if (is_guarded(report_, id, &report)) return Refusal::output_is_report;
    if (is_guarded(errors_, id, &errors)) return Refusal::output_is_error_stream;
    if (is_guarded(form_, id)) return Refusal::output_is_form;
    if (is_guarded(input_, id)) return Refusal::output_is_input;
    return std::nullopt;
}

bool OutputGuard::open_output(std::string_view path, BeforeWaiting& waiting, File& file) const {
    const bool opened = File::open_for_writing(path, waiting, file);
    // A file another program holds cannot be opened, but may be known: the
    // file a Windows shell sends the report to, refused for what it is.
    if (!opened && !file.identified()) return false;
    if (const std::optional<Refusal> refusal = refusal_for(file.id())) {
        return file.refuse_output(path, *refusal);
    }
    return opened && file.truncate();
}

}  // namespace kerfline
