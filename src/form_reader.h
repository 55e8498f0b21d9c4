// The form: three lines a record (marker line, output name, flag), read one
// record at a time so that a form of any length takes constant memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "input_buffer.h"

namespace kerfline {

struct form_record {
    std::string marker_line;  // the text of the line, its line end removed
    std::string output_name;  // likewise
    std::int32_t output_flag = 0;
};

enum class FormRead { record, end, failed, line_too_long };

// Reads the next three lines into `record`. A trailing record of one or two
// lines is no record.
FormRead read_form_record(InputBuffer& form, form_record& record);

enum class LineRead { line, end, failed, too_long };

// Reads one line of any length, or tells that it is too long for memory.
// The line end, "\n" or "\r\n", is dropped; a last line without one is
// still a line.
LineRead read_line(InputBuffer& input, std::string& line);

// atoi's reading of a flag, held to the 32-bit range instead of overflowing.
std::int32_t parse_flag(std::string_view text);

}  // namespace kerfline
