#include "console.h"

#include <atomic>
#include <cstring>

namespace kerfline {

namespace {

// Static, so that the report needs no memory at run time: a run that has
// started can always say how it ends; and so that a stop, which comes
// through a signal handler, can reach it.
char buffer[64 * 1024];

// The end of the last complete message in the buffer.
std::atomic<std::size_t> complete_size{0};

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

}  // namespace

Console::Console(bool utf8, bool interactive)
    : buffer_(buffer), utf8_(utf8), interactive_(interactive) {
    static_assert(sizeof buffer == buffer_size);
    static_assert(std::atomic<std::size_t>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free, "a signal handler reads them");
    complete_size = 0;
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

void Console::message_done() {
    complete_size.store(pending_size_, std::memory_order_release);
    // A stop that writes out the report beside the run (on Windows) ends
    // it before the record whose message this is goes any further.
    if (writer.load(std::memory_order_acquire) == stopped) wait_for_the_end();
    if (interactive_) flush();
}

void Console::flush() {
    if (pending_size_ == 0 || !claim_for_the_run()) return;
    write_standard(StandardStream::output, buffer_, pending_size_);
    pending_size_ = 0;
    complete_size.store(0, std::memory_order_relaxed);
    writer.store(idle, std::memory_order_release);
}

void Console::write_out(const char* bytes, std::size_t count) {
    if (!claim_for_the_run()) return;
    write_standard(StandardStream::output, bytes, count);
    writer.store(idle, std::memory_order_release);
}

void Console::write_out_at_stop() {
    int expected = idle;
    if (!writer.compare_exchange_strong(expected, stopped)) return;
    write_standard(StandardStream::output, buffer,
                   complete_size.load(std::memory_order_acquire));
}

}  // namespace kerfline
