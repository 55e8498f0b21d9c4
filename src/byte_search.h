// Finding a byte string in a buffer: the one loop every input byte passes
// through, so it is kept apart to be made as fast as the machine allows.
#pragma once

#include <string_view>
#include <vector>

namespace kerfline {

enum class SearchMethod { plain, sse2, avx2 };

// The methods this processor runs, the fastest last.
std::vector<SearchMethod> usable_search_methods();

// The first occurrence of `needle` (at least one byte) in [from, end), or
// `end`; by the fastest method unless one is named.
const char* find_bytes(const char* from, const char* end, std::string_view needle);
const char* find_bytes(const char* from, const char* end, std::string_view needle,
                       SearchMethod method);

}  // namespace kerfline
