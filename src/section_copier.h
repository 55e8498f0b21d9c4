// Cuts one section off the input: everything up to and including the next
// line whose text equals the record's marker, or the rest of the input.
#pragma once

#include <cstdint>
#include <string_view>

#include "input_buffer.h"
#include "platform.h"

namespace kerfline {

// How a section ended: with its marker line, or at the end of the input;
// or not, for want of a read or a write.
enum class Cut { marker_found, input_ended, read_failed, write_failed };

// Moves the input past the section, handing its bytes unchanged to `sink`
// when there is one, and adding its "\n" to `line_ends` when given. A line
// matches when its text, "\n" or "\r\n" removed, equals `marker`; a last
// line without "\n" never matches.
Cut cut_section(InputBuffer& input, std::string_view marker, ByteSink* sink,
                std::uint64_t* line_ends = nullptr);

}  // namespace kerfline
