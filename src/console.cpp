#include "console.h"

#include <cstring>

namespace kerfline {

namespace {

// Static, so that the report needs no memory at run time: a run that has
// started can always say how it ends.
char buffer[64 * 1024];

}  // namespace

Console::Console(bool utf8, bool interactive)
    : buffer_(buffer), utf8_(utf8), interactive_(interactive) {
    static_assert(sizeof buffer == buffer_size);
}

void Console::put_past_buffer(std::string_view bytes) {
    flush();
    // A long marker is echoed straight from the record, not copied.
    if (bytes.size() >= buffer_size) {
        write_standard(StandardStream::output, bytes.data(), bytes.size());
        return;
    }
    std::memcpy(buffer_, bytes.data(), bytes.size());
    pending_size_ = bytes.size();
}

void Console::message_done() {
    if (interactive_) flush();
}

void Console::flush() {
    if (pending_size_ == 0) return;
    write_standard(StandardStream::output, buffer_, pending_size_);
    pending_size_ = 0;
}

}  // namespace kerfline
