// Standard error, where a failed run says why in one line:
// "kerfline: path: reason".
#pragma once

#include <string_view>

#include "platform.h"

namespace kerfline {

// A file the tool will not use, whatever the system would do with it.
enum class Refusal {
    none,
    output_is_form,
    output_is_input,
    output_is_report,        // standard output, when it is a file
    output_is_error_stream,  // standard error, when it is a file
    read_is_report,          // a form or input that standard output goes to
    read_is_error_stream,    // likewise standard error
    form_line_too_long,      // for memory
    out_of_memory,           // to tell where a name is
};

// Why a file fails the run: what the system or the platform layer said of
// it, or a refusal of the tool's own.
struct Failure {
    Failure(const FileError& file_error) : error(file_error) {}
    Failure(Refusal tool_refusal) : refusal(tool_refusal) {}

    FileError error;
    Refusal refusal = Refusal::none;
};

// Why, in words: the system's for its error code, or the tool's own; in
// `buffer` or static text.
std::string_view reason_words(const Failure& why, char (&buffer)[512]);

// The reason is the system's words for its error code, or the tool's own.
// A control byte of the path is written as an escape, so that the reason
// stays one line; on a screen the path is shown as the report shows it.
void write_reason(std::string_view path, const Failure& why);
// When memory runs out where no file is to blame.
void write_out_of_memory();

}  // namespace kerfline
