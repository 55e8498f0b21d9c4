#include "console.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "screen.h"

namespace kerfline {

namespace {

// Static, so that the report needs no memory at run time: a run that has
// started can always say how it ends; and so that a stop, which comes
// through a signal handler, can reach it.
char buffer[64 * 1024];

// The end of the last complete message in the buffer.
std::atomic<std::size_t> complete_size{0};

// How wide the progress line on standard error is, 0 when none is drawn.
std::atomic<std::size_t> progress_width{0};
constexpr std::size_t widest_progress = 96;

// Who has the report: no one; the run, which writes it out or holds stops
// off; or a stop, which ends the run. A stop comes as a signal on POSIX, in
// a thread of its own on Windows.
enum State { idle, run_busy, stopped };
std::atomic<int> state{idle};
// A stop that came while the run was busy, for the run to carry out.
std::atomic<int> pending_stop{0};

// Overwrites the progress line with blanks and leaves the cursor where it
// began, so that what comes next starts a clean line. Safe in a signal
// handler.
void erase_progress() {
    const std::size_t width = progress_width.exchange(0);
    if (width == 0) return;
    char blank[widest_progress + 2];
    std::memset(blank, ' ', sizeof blank);
    blank[0] = '\r';
    blank[width + 1] = '\r';
    write_standard(StandardStream::error, blank, width + 2);
}

// With the report the stop's: the progress line goes, the complete messages
// go out, without waiting for a reader, and the run ends as the stop ends
// a program.
[[noreturn]] void carry_out(int which) {
    erase_progress();
    output_waits_no_more();
    write_standard(StandardStream::output, buffer, complete_size.load(std::memory_order_acquire));
    output_may_wait_again();
    end_as_stopped(which);
}

}  // namespace

Console::Console(Screen report_screen, Screen error_screen)
    : buffer_(buffer), screen_(report_screen), error_screen_(error_screen) {
    static_assert(sizeof buffer == buffer_size);
    static_assert(std::atomic<std::size_t>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free, "a signal handler reads them");
    complete_size = 0;
    progress_width = 0;
    pending_stop = 0;
    state = idle;
}

Console::~Console() {
    // A run that a stop has ended writes nothing more.
    if (state.load() == stopped) return;
    flush();
    take_away_progress();
}

void Console::claim() {
    if (claims_++ > 0) return;
    int expected = idle;
    if (state.compare_exchange_strong(expected, run_busy)) return;
    // A stop beside the run (on Windows) has the report, and ends the run.
    wait_for_the_end();
}

void Console::release() {
    if (--claims_ > 0) return;
    state.store(idle);
    int expected = idle;
    const int which = pending_stop.load();
    if (which != 0 && state.compare_exchange_strong(expected, stopped)) carry_out(which);
}

void Console::stop_from_outside(int which) {
    // Marked first, so that a run letting go of the report meanwhile sees it.
    pending_stop.store(which);
    int expected = idle;
    if (state.compare_exchange_strong(expected, stopped)) carry_out(which);
    // A busy run carries the stop out when it is done, and a write of its
    // that waits for a reader waits no more.
    if (expected == run_busy) output_waits_no_more();
}

void Console::write_out(const char* bytes, std::size_t count) {
    if (screen_ != Screen::none) erase_progress();
    write_standard(StandardStream::output, bytes, count);
}

void Console::put_past_buffer(std::string_view bytes) {
    // Room is made by writing out the complete messages; the one under way
    // moves to the front.
    const std::size_t complete = complete_size.load(std::memory_order_relaxed);
    if (complete > 0 && !long_message_) {
        claim();
        write_out(buffer_, complete);
        pending_size_ -= complete;
        std::memmove(buffer_, buffer_ + complete, pending_size_);
        complete_size.store(0, std::memory_order_release);
        release();
        if (bytes.size() <= buffer_size - pending_size_) {
            put(bytes);
            return;
        }
    }
    // A message longer than the buffer goes out in parts, and a stop waits
    // for its end, so that the report never ends inside it.
    if (!long_message_) {
        claim();
        long_message_ = true;
    }
    write_out(buffer_, pending_size_);
    pending_size_ = 0;
    // A long marker is echoed straight from the record, not copied.
    if (bytes.size() >= buffer_size) {
        write_out(bytes.data(), bytes.size());
        return;
    }
    put(bytes);
}

void Console::put_shown(std::string_view text) {
    ScreenText shown(screen_, text);
    for (std::string_view piece; shown.next(piece);) put(piece);
}

void Console::message_done() {
    if (long_message_) {
        write_out(buffer_, pending_size_);
        pending_size_ = 0;
        long_message_ = false;
        release();
        return;
    }
    complete_size.store(pending_size_, std::memory_order_release);
    if (screen_ != Screen::none) flush();
}

void Console::flush() {
    if (pending_size_ == 0) return;
    claim();
    write_out(buffer_, pending_size_);
    pending_size_ = 0;
    complete_size.store(0, std::memory_order_release);
    release();
}

void Console::show_progress(std::string_view text) {
    if (error_screen_ == Screen::none) return;
    claim();
    // Drawn over the last line in one write, blanks past its end.
    char line[widest_progress + 1];
    const std::size_t width = std::min(text.size(), widest_progress);
    const std::size_t drawn = std::max(width, progress_width.load());
    line[0] = '\r';
    std::memcpy(line + 1, text.data(), width);
    std::memset(line + 1 + width, ' ', drawn - width);
    write_standard(StandardStream::error, line, drawn + 1);
    progress_width = drawn;
    release();
}

void Console::take_away_progress() {
    if (progress_width.load() == 0) return;
    claim();
    erase_progress();
    release();
}

}  // namespace kerfline
