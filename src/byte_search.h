// Finding a byte string in a buffer: the one loop every input byte passes
// through, so it is kept apart to be made as fast as the machine allows.
#pragma once

#include <string_view>

namespace kerfline {

// The first occurrence of `needle` (at least one byte) in [from, end), or
// `end`.
const char* find_bytes(const char* from, const char* end, std::string_view needle);

}  // namespace kerfline
