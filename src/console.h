// The report's way out: a buffer in front of standard output.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "platform.h"

namespace kerfline {

// Gathers the report and writes it to standard output: as soon as a message
// is complete on a screen, otherwise when the buffer fills, before the
// tool waits, before a section goes where a reader sees it at once, and at
// the end; a stop from outside writes out the messages that are complete.
// A failed write is dropped so that the split goes on. It also draws the
// progress line on standard error, and takes it away before the report
// goes to a screen, before a reason line and at the end. There is one
// console a run.
class Console final {
public:
    // The screens standard output and standard error are on, if any.
    Console(Screen report_screen, Screen error_screen);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console() {
        flush();
        take_away_progress();
    }

    // Whether the console reads UTF-8 rather than Shift_JIS.
    bool utf8() const { return screen_ == Screen::utf8; }

    // Inline, so that a fixed text's copy is a few moves: a block of the
    // report is some twenty small pieces, one block a section.
    void put(std::string_view bytes) {
        if (bytes.size() > buffer_size - pending_size_) {
            put_past_buffer(bytes);
            return;
        }
        std::memcpy(buffer_ + pending_size_, bytes.data(), bytes.size());
        pending_size_ += bytes.size();
    }
    // Text from the form or the command line, as the screen shows it.
    void put_echoed(std::string_view text);
    void message_done();
    void flush();

    // Whether standard error is a screen, where a progress line is drawn.
    bool shows_progress() const { return error_screen_ != Screen::none; }
    // Draws `line` over the one drawn before.
    void show_progress(std::string_view line);
    void take_away_progress();

    // What a stop writes out: the messages complete so far, unless the
    // report is being written out at that moment. Safe in a signal handler.
    static void write_out_at_stop();

private:
    static constexpr std::size_t buffer_size = 64 * 1024;
    void put_past_buffer(std::string_view bytes);
    void write_out(const char* bytes, std::size_t count);

    char* buffer_;
    std::size_t pending_size_ = 0;
    Screen screen_;
    Screen error_screen_;
};

}  // namespace kerfline
