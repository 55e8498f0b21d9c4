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
// the end. A failed write is dropped so that the split goes on. It also
// draws the progress line on standard error, and takes it away before the
// report goes to a screen, before a reason line and at the end.
//
// A stop from outside writes out the messages that are complete, takes the
// progress line away and ends the run; while the run writes the report or
// holds stops off (an output's open and its report), the run carries the
// stop out as soon as it is done, so that the report never ends inside a
// message and no file is created or emptied without its report. A write
// that waits for a reader does not hold the stop up. There is one console
// a run.
class Console final {
public:
    // The screens standard output and standard error are on, if any.
    Console(Screen report_screen, Screen error_screen);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console();

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
    void put_echoed(std::string_view text) {
        if (screen_ == Screen::none) {
            put(text);
        } else {
            put_shown(text);
        }
    }
    void message_done();
    // Writes out what the buffer holds; called between messages.
    void flush();

    // A stop from outside waits from hold_stops() to let_stops_in().
    void hold_stops() { claim(); }
    void let_stops_in() { release(); }

    // Whether standard error is a screen, where a progress line is drawn.
    bool shows_progress() const { return error_screen_ != Screen::none; }
    // Draws `line` over the one drawn before.
    void show_progress(std::string_view line);
    void take_away_progress();

    // What on_stop() calls. Safe in a signal handler.
    static void stop_from_outside(int which);

private:
    static constexpr std::size_t buffer_size = 64 * 1024;
    void put_past_buffer(std::string_view bytes);
    void put_shown(std::string_view text);
    void write_out(const char* bytes, std::size_t count);
    void claim();
    void release();

    char* buffer_;
    std::size_t pending_size_ = 0;
    // How deep the run's claims on the report go; a stop waits while any is held.
    int claims_ = 0;
    // A message longer than the buffer, written out in parts: the run holds
    // its claim until the message's end is written.
    bool long_message_ = false;
    Screen screen_;
    Screen error_screen_;
};

}  // namespace kerfline
