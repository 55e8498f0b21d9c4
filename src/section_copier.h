// Cuts one section off the input: everything up to and including the next
// line whose text equals the record's marker, or the rest of the input.
#pragma once

#include <string_view>

#include "input_buffer.h"
#include "platform.h"

namespace kerfline {

enum class Cut { done, read_failed, write_failed };

// Moves the input past the section, handing its bytes unchanged to `sink`
// when there is one. A line matches when its text, "\n" or "\r\n" removed,
// equals `marker`; a last line without "\n" never matches.
Cut cut_section(InputBuffer& input, std::string_view marker, ByteSink* sink);

}  // namespace kerfline
