// The report on standard output: every fixed text of the tool, and the
// blocks and messages built from them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "console.h"
#include "error_line.h"
#include "platform.h"

namespace kerfline {

struct FormRecord;

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
    left_bracket,  // before the path of every failure
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

void report_usage(Console& console);
void report_banner(Console& console);
void report_record(Console& console, std::int64_t section_index, const FormRecord& record);
void report_opened(Console& console, std::string_view path);

// "[path]" followed by `error` on the console, for scripts that read it,
// and the reason on standard error: "kerfline: path: reason".
void report_failure(Console& console, Text error, std::string_view path, const Failure& why);
// What is left to say when memory runs out where no file is to blame.
void report_out_of_memory(Console& console);

}  // namespace kerfline
