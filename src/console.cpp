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

// Who writes the buffer out: the run, or a stop, which must neither repeat
// what the run is writing nor see it change while it writes. A stop comes
// as a signal on POSIX, in a thread of its own on Windows.
enum WriterState { idle, run_writing, stopped };
std::atomic<int> writer{idle};

// Takes the buffer for a write of the run's; false once a stop has it.
bool claim_for_the_run() {
    int expected = idle;
    return writer.compare_exchange_strong(expected, run_writing);
}

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

}  // namespace

Console::Console(Screen report_screen, Screen error_screen)
    : buffer_(buffer), screen_(report_screen), error_screen_(error_screen) {
    static_assert(sizeof buffer == buffer_size);
    static_assert(std::atomic<std::size_t>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free, "a signal handler reads them");
    complete_size = 0;
    progress_width = 0;
    writer = idle;
}

void Console::put_past_buffer(std::string_view bytes) {
    flush();
    // A long marker is echoed straight from the record, not copied.
    if (bytes.size() >= buffer_size) {
        write_out(bytes.data(), bytes.size());
        return;
    }
    // After a stop the buffer is the stop's: what follows is dropped.
    if (pending_size_ != 0) return;
    std::memcpy(buffer_, bytes.data(), bytes.size());
    pending_size_ = bytes.size();
}

void Console::put_echoed(std::string_view text) {
    if (screen_ == Screen::none) {
        put(text);
        return;
    }
    ScreenText shown(screen_, text);
    for (std::string_view piece; shown.next(piece);) put(piece);
}

void Console::message_done() {
    complete_size.store(pending_size_, std::memory_order_release);
    // A stop that writes out the report beside the run (on Windows) ends
    // it before the record whose message this is goes any further.
    if (writer.load(std::memory_order_acquire) == stopped) wait_for_the_end();
    if (screen_ != Screen::none) flush();
}

void Console::flush() {
    if (pending_size_ == 0 || !claim_for_the_run()) return;
    if (screen_ != Screen::none) erase_progress();
    write_standard(StandardStream::output, buffer_, pending_size_);
    pending_size_ = 0;
    complete_size.store(0, std::memory_order_relaxed);
    writer.store(idle, std::memory_order_release);
}

void Console::write_out(const char* bytes, std::size_t count) {
    if (!claim_for_the_run()) return;
    if (screen_ != Screen::none) erase_progress();
    write_standard(StandardStream::output, bytes, count);
    writer.store(idle, std::memory_order_release);
}

void Console::show_progress(std::string_view text) {
    if (error_screen_ == Screen::none || !claim_for_the_run()) return;
    // Drawn over the last line in one write, blanks past its end.
    char line[widest_progress + 1];
    const std::size_t width = std::min(text.size(), widest_progress);
    const std::size_t drawn = std::max(width, progress_width.load());
    line[0] = '\r';
    std::memcpy(line + 1, text.data(), width);
    std::memset(line + 1 + width, ' ', drawn - width);
    write_standard(StandardStream::error, line, drawn + 1);
    progress_width = drawn;
    writer.store(idle, std::memory_order_release);
}

void Console::take_away_progress() {
    if (progress_width.load() == 0 || !claim_for_the_run()) return;
    erase_progress();
    writer.store(idle, std::memory_order_release);
}

void Console::write_out_at_stop() {
    int expected = idle;
    if (!writer.compare_exchange_strong(expected, stopped)) return;
    erase_progress();
    write_standard(StandardStream::output, buffer,
                   complete_size.load(std::memory_order_acquire));
}

}  // namespace kerfline
