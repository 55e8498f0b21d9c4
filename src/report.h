// The console report: every fixed text of the tool, and the messages built
// from them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform.h"

namespace kerfline {

struct form_record;

enum class Text {
    usage_credit,
    usage_synopsis,
    usage_purpose,
    usage_form_contents,
    usage_form_marker,
    usage_form_name,
    usage_form_flag,
    banner,
    opened,        // after the path
    path_opening,  // before the path in every error
    cannot_open,
    cannot_read,
    cannot_write,
    fence,
    fence_end,
    colon,
    newline,
    arrows,
};

struct FixedText {
    Text id;
    std::string_view shift_jis;  // what scripts and logs always see
    std::string_view utf8;       // the same words, for a UTF-8 terminal
};

std::span<const FixedText> fixed_texts();

// Whether a locale name such as "ja_JP.UTF-8@x" asks for UTF-8.
bool locale_names_utf8(std::string_view locale);

// Buffers the report and writes it to standard output; a failed write is
// dropped so that the split goes on. There is one console a run.
class Console final : public BeforeWaiting {
public:
    Console(bool utf8, bool interactive) : utf8_(utf8), interactive_(interactive) {}
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console() { flush(); }

    void put(std::string_view bytes);
    void put(Text text);
    void put(std::int64_t number);
    // A terminal sees each message as soon as it is complete.
    void message_done();
    // Writes out what is pending. Called before each call that may wait,
    // so that a redirected report keeps up with the run.
    void flush();
    void before_waiting() override { flush(); }

private:
    std::size_t pending_size_ = 0;
    bool utf8_;
    bool interactive_;
};

void report_usage(Console& console);
void report_banner(Console& console);
void report_record(Console& console, std::int64_t section_index, const form_record& record);
void report_opened(Console& console, std::string_view path);

// "[path]" followed by `error` on the console, for scripts that read it,
// and the reason on standard error: "kerfline: path: reason".
void report_failure(Console& console, Text error, std::string_view path, const FileError& why);
// What is left to say when memory runs out where no file is to blame.
void report_out_of_memory(Console& console);

}  // namespace kerfline
