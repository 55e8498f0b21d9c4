#include "input_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kerfline {

namespace {

// The kernel copies every byte of the input into this buffer and every
// written byte out of it. When the buffer starts a few bytes past a page
// boundary, source and destination of those copies sit at nearly the same
// offset modulo 4 KiB, and the processor's copy loop stalls on the false
// dependency (4K aliasing): a split of short lines measured 20 % slower.
// Half a page past a boundary keeps both copies clear of it.
constexpr std::size_t page_size = 4096;
constexpr std::size_t placement = page_size / 2;

}  // namespace

// malloc, not operator new: it fails by returning null, where the C++
// library would throw, and a throw needs memory of its own.
InputBuffer::InputBuffer(ByteSource& source, std::size_t capacity)
    : source_(source),
      capacity_(std::max<std::size_t>(capacity, 1)),
      block_(std::malloc(page_size + placement + capacity_)) {
    const auto address = reinterpret_cast<std::uintptr_t>(block_.get());
    const std::uintptr_t page = (address + page_size - 1) / page_size * page_size;
    bytes_ = reinterpret_cast<char*>(page + placement);
}

Fill InputBuffer::fill() {
    if (state_ != Fill::more) return state_;
    // The form reader and the copier consume all they have before asking
    // for more, so this copy moves nothing.
    if (begin_ > 0) {
        std::memmove(bytes_, bytes_ + begin_, size());
        end_ -= begin_;
        begin_ = 0;
    }
    // A full window would read nothing and look like the end, and the
    // bytes after it would be lost: a reader that does not consume is a
    // fault of the tool's own.
    if (end_ == capacity_) std::abort();
    const ReadResult got = source_.read(bytes_ + end_, capacity_ - end_);
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
