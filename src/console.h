// The report's way out: a buffer in front of standard output.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform.h"

namespace kerfline {

// Gathers the report and writes it to standard output: as soon as a message
// is complete on a terminal, otherwise when the buffer fills, before the
// tool waits and at the end. A failed write is dropped so that the split
// goes on. There is one console a run.
class Console final : public BeforeWaiting {
public:
    Console(bool utf8, bool interactive) : utf8_(utf8), interactive_(interactive) {}
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console() { flush(); }

    // Whether the console reads UTF-8 rather than Shift_JIS.
    bool utf8() const { return utf8_; }

    void put(std::string_view bytes);
    void message_done();
    void flush();
    void before_waiting() override { flush(); }

private:
    std::size_t pending_size_ = 0;
    bool utf8_;
    bool interactive_;
};

}  // namespace kerfline
