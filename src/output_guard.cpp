#include "output_guard.h"

#include <iterator>
#include <optional>

namespace kerfline {

void OutputGuard::protect(FileId id, FileError::Refusal refusal) {
    if (count_ < std::size(guarded_)) guarded_[count_++] = {id, refusal};
}

OutputGuard::OutputGuard() {
    if (const std::optional<FileId> report = standard_stream_file(StandardStream::output)) {
        protect(*report, FileError::Refusal::output_is_report);
    }
    if (const std::optional<FileId> errors = standard_stream_file(StandardStream::error)) {
        protect(*errors, FileError::Refusal::output_is_error_stream);
    }
}

bool OutputGuard::admit_for_reading(File& file) const {
    for (std::size_t index = 0; index < count_; ++index) {
        if (guarded_[index].id != file.id()) continue;
        switch (guarded_[index].refusal) {
            case FileError::Refusal::output_is_report:
                return file.refuse(FileError::Refusal::read_is_report);
            case FileError::Refusal::output_is_error_stream:
                return file.refuse(FileError::Refusal::read_is_error_stream);
            default: break;
        }
    }
    return true;
}

bool OutputGuard::open_output(std::string_view path, BeforeWaiting& waiting, File& file) const {
    if (!File::open_for_writing(path, waiting, file)) return false;
    for (std::size_t index = 0; index < count_; ++index) {
        if (guarded_[index].id == file.id()) return file.refuse(guarded_[index].refusal);
    }
    return file.truncate();
}

}  // namespace kerfline
