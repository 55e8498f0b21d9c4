// Standard error, where a failed run says why in one line:
// "kerfline: path: reason".
#pragma once

#include <string_view>

#include "platform.h"

namespace kerfline {

// The reason is the system's words for its error code, or the tool's own
// for a refusal. A control byte of the path is written as an escape, so
// that the reason stays one line.
void write_reason(std::string_view path, const FileError& why);
// When memory runs out where no file is to blame.
void write_out_of_memory();

}  // namespace kerfline
