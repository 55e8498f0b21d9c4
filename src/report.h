// The console report: every fixed text of the tool, and the messages built
// from them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
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
    // Standard error, where a failure says why: "kerfline: path: reason".
    error_prefix,
    error_separator,
    reason_directory,
    reason_nul_in_name,
    reason_output_is_form,
    reason_output_is_input,
    reason_form_line_too_long,
    reason_out_of_memory,
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
// dropped so that the split goes on.
class Console {
public:
    Console(bool utf8, bool interactive);
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    ~Console() { flush(); }

    void put(std::string_view bytes);
    void put(Text text);
    void put(std::int64_t number);
    // A terminal sees each message as soon as it is complete.
    void message_done();
    void flush();

private:
    // A fixed buffer: a block of the report is some twenty small pieces,
    // and a split into many sections puts one block per section.
    std::unique_ptr<char[]> pending_;
    std::size_t pending_size_ = 0;
    bool utf8_;
    bool interactive_;
};

void report_usage(Console& console);
void report_banner(Console& console);
void report_record(Console& console, std::int64_t section_index, const form_record& record);

// "[path]" followed by `error` on the console, for scripts that read it,
// and the reason on standard error: "kerfline: path: reason".
void report_failure(Console& console, Text error, std::string_view path, const FileError& why);
void report_failure(Console& console, Text error, std::string_view path, Text reason);
// What is left to say when memory runs out where no file is to blame.
void report_out_of_memory();

// The files no output may be, in the order their identities are guarded.
enum class Guarded { form, input };

// Open a file and say so: "path open", or the cannot-open message.
bool open_reported(Console& console, std::string_view path, File& file);
bool open_reported(Console& console, std::string_view path, std::span<const FileId> guarded,
                   File& file);

}  // namespace kerfline
