// What a person sees on a terminal or a Windows console: the form's and
// the command line's text made safe to show and readable, and the line
// that shows a long run moving. Pipes and files get none of it: their
// bytes are the report's own.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform.h"

namespace kerfline {

class Console;

// `byte` as an escape: "\n", "\r", "\t" or "\x1b". Returns its length.
std::size_t escape_byte(unsigned char byte, char (&escape)[4]);

// Echoed text (a marker, a name, a path) as `screen` shows it, piece by
// piece. No byte of it acts on the screen: C0 controls but the tab, DEL
// and, on a UTF-8 screen, C1 controls are escapes, as the reason line
// writes them. A UTF-8 screen shows the text in its own characters: as it
// is when it is UTF-8; decoded when it is code page 932, a form written on
// Windows, or on Windows when it is in the code page names are in; bytes
// that are none of these as escapes. With Screen::none the text is one
// piece, as it is.
class ScreenText {
public:
    ScreenText(Screen screen, std::string_view text);
    // The next piece to show; false once there is none.
    bool next(std::string_view& piece);

private:
    enum class Reading { as_it_is, bytes, utf8, cp932, code_page };
    std::size_t character(std::size_t at, char32_t& code_point) const;
    bool shown_escaped(char32_t code_point) const;

    std::string_view text_;
    std::size_t at_ = 0;
    Reading reading_;
    std::uint32_t code_page_ = 0;
    char shown_[4 * 4];  // an escaped or decoded character
};

// The sign of life on a long run, drawn by the console on standard error
// when a person reads it there: how much of the input has been read (of
// its size, and how much that is, when it is a file on disk), the record
// under way and the rate. It appears once the run has gone on for a
// second and is redrawn at most four times a second.
class Progress {
public:
    explicit Progress(Console& console);
    // The size of the input, when it is a file on disk.
    void input_size(std::uint64_t size) { size_ = size; }
    void record(std::int64_t index) { record_ = index; }
    // After each read of the input. Costs a test while no one watches.
    void read(std::size_t count) {
        read_ += count;
        if (watched_) redraw();
    }

private:
    void redraw();

    Console& console_;
    bool watched_;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_;
    std::uint64_t read_ = 0;
    std::uint64_t size_ = 0;  // 0 when not known
    std::int64_t record_ = 0;
};

}  // namespace kerfline
