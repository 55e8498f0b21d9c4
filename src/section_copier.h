// Cuts one section off the input: everything up to and including the next
// line whose text equals the record's marker, or the rest of the input.
#pragma once

#include <span>
#include <string_view>

#include "form_reader.h"
#include "input_buffer.h"
#include "platform.h"
#include "report.h"

namespace kerfline {

enum class Transfer { completed, read_failed, write_failed };

// Moves the input past the section, handing its bytes unchanged to `sink`
// when there is one. A line matches when its text, "\n" or "\r\n" removed,
// equals `marker`; a last line without "\n" never matches.
Transfer transfer_section(InputBuffer& input, std::string_view marker, ByteSink* sink);

enum class SectionResult { done, output_failed, input_unreadable };

// Flag 0 skips the section, 1 writes it to the record's file, any other
// value leaves that file empty. `guarded` are the files that must never be
// opened for writing. A failure of the output is reported here, one of the
// input is left to the caller.
SectionResult copy_section(InputBuffer& input, const form_record& record, Console& console,
                           std::span<const FileId> guarded);

}  // namespace kerfline
