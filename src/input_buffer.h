// A read-ahead window over a byte source, shared by the form reader and the
// section copier so that neither makes a system call per line.
#pragma once

#include <cstddef>
#include <memory>

#include "platform.h"

namespace kerfline {

enum class Fill { more, end, failed };

class InputBuffer {
public:
    static constexpr std::size_t default_capacity = 256 * 1024;

    InputBuffer(ByteSource& source, std::size_t capacity = default_capacity);

    // The bytes read but not yet consumed.
    const char* begin() const { return bytes_.get() + begin_; }
    const char* end() const { return bytes_.get() + end_; }
    std::size_t size() const { return end_ - begin_; }
    void consume(std::size_t count) { begin_ += count; }

    // Keeps the unconsumed bytes and reads more after them. End and failure
    // are final: the source is not asked again.
    Fill fill();

    bool exhausted() const { return state_ != Fill::more; }
    bool failed() const { return state_ == Fill::failed; }

private:
    struct Release {
        void operator()(char* bytes) const;
    };
    using PlacedBytes = std::unique_ptr<char, Release>;
    static PlacedBytes allocate(std::size_t capacity);

    ByteSource& source_;
    PlacedBytes bytes_;
    std::size_t capacity_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    Fill state_ = Fill::more;
};

}  // namespace kerfline
