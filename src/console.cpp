#include "console.h"

#include <cstring>

namespace kerfline {

namespace {

// A block of the report is some twenty small pieces, and a split into many
// sections puts one block per section. The buffer is static, so that the
// report needs no memory at run time: a run that has started can always
// say how it ends.
constexpr std::size_t buffer_size = 64 * 1024;
char buffer[buffer_size];

}  // namespace

void Console::put(std::string_view bytes) {
    if (bytes.size() > buffer_size - pending_size_) {
        flush();
        // A long marker is echoed straight from the record, not copied.
        if (bytes.size() >= buffer_size) {
            write_standard(StandardStream::output, bytes.data(), bytes.size());
            return;
        }
    }
    std::memcpy(buffer + pending_size_, bytes.data(), bytes.size());
    pending_size_ += bytes.size();
}

void Console::message_done() {
    if (interactive_) flush();
}

void Console::flush() {
    if (pending_size_ == 0) return;
    write_standard(StandardStream::output, buffer, pending_size_);
    pending_size_ = 0;
}

}  // namespace kerfline
