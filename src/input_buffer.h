// A read-ahead window over a byte source, shared by the form reader and the
// section copier so that neither makes a system call per line.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "platform.h"

namespace kerfline {

enum class Fill { more, end, failed };

class InputBuffer {
public:
    static constexpr std::size_t default_capacity = 256 * 1024;

    // Without memory for the window, allocated() is false and nothing else
    // may be called.
    InputBuffer(ByteSource& source, std::size_t capacity = default_capacity);
    bool allocated() const { return block_ != nullptr; }

    // The bytes read but not yet consumed.
    const char* begin() const { return bytes_ + begin_; }
    const char* end() const { return bytes_ + end_; }
    std::size_t size() const { return end_ - begin_; }
    void consume(std::size_t count) { begin_ += count; }

    // Keeps the unconsumed bytes and reads more after them. End and failure
    // are final: the source is not asked again. A reader consumes what it
    // has before asking for more, so that there is room to read into.
    Fill fill();

private:
    struct Free {
        void operator()(void* block) const { std::free(block); }
    };

    ByteSource& source_;
    std::size_t capacity_;
    std::unique_ptr<void, Free> block_;
    char* bytes_;  // within block_
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    Fill state_ = Fill::more;
};

}  // namespace kerfline
