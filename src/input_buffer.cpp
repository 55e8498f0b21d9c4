#include "input_buffer.h"

#include <algorithm>
#include <cstring>

namespace kerfline {

InputBuffer::InputBuffer(ByteSource& source, std::size_t capacity)
    : source_(source), bytes_(std::max<std::size_t>(capacity, 1)) {}

Fill InputBuffer::fill() {
    if (state_ != Fill::more) return state_;
    if (begin_ > 0) {
        std::memmove(bytes_.data(), bytes_.data() + begin_, size());
        end_ -= begin_;
        begin_ = 0;
    }
    // Readers consume what they have before asking for more; should one
    // not, the buffer grows rather than read nothing and look like the end.
    if (end_ == bytes_.size()) bytes_.resize(bytes_.size() * 2);
    const ReadResult got = source_.read(bytes_.data() + end_, bytes_.size() - end_);
    if (got.failed) {
        state_ = Fill::failed;
    } else if (got.count == 0) {
        state_ = Fill::end;
    } else {
        end_ += got.count;
    }
    return state_;
}

}  // namespace kerfline
