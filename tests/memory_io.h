// In-memory stand-ins for files, for the reader and copier tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "platform.h"

namespace kerfline::testing {

// Hands out its bytes in reads of random length, as a pipe may, and can fail
// once `fail_at` bytes have been read.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::string bytes, std::size_t max_read = SIZE_MAX, unsigned seed = 1)
        : bytes_(std::move(bytes)), max_read_(max_read), random_(seed) {}

    std::size_t fail_at = SIZE_MAX;

    ReadResult read(char* into, std::size_t capacity) override {
        if (at_ >= fail_at) return {0, true};
        std::size_t count = std::min({capacity, bytes_.size() - at_, fail_at - at_});
        if (max_read_ != SIZE_MAX && count > 0) count = 1 + random_() % std::min(count, max_read_);
        std::memcpy(into, bytes_.data() + at_, count);
        at_ += count;
        return {count, false};
    }

private:
    std::string bytes_;
    std::size_t at_ = 0;
    std::size_t max_read_;
    std::mt19937 random_;
};

class MemorySink final : public ByteSink {
public:
    std::string bytes;
    std::size_t writes = 0;
    std::size_t room = SIZE_MAX;  // a write past it fails, as on a full disk

    bool write(const char* data, std::size_t count) override {
        ++writes;
        if (count > room - bytes.size()) return false;
        bytes.append(data, count);
        return true;
    }
};

}  // namespace kerfline::testing
