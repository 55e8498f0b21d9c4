// Finding a line that begins with a given text: the one loop every input
// byte passes through, so it is kept apart to be made as fast as the
// machine allows.
#pragma once

#include <string_view>
#include <vector>

namespace kerfline {

enum class SearchMethod { plain, sse2, avx2, avx512, neon };

// The methods this processor runs, the fastest last.
std::vector<SearchMethod> usable_search_methods();

// The fastest of them, which find_line_start takes when none is named.
SearchMethod default_search_method();

// The first place `at`, from < at, where a line begins (at[-1] is "\n")
// and `text` follows in full before `end`; `end` when there is none. An
// empty text is found at every line start before `end`. By the fastest
// method unless one is named.
const char* find_line_start(const char* from, const char* end, std::string_view text);
const char* find_line_start(const char* from, const char* end, std::string_view text,
                            SearchMethod method);

// The same, and adds to `line_ends` the "\n" of [from, the place found):
// for a dry run's line numbers, at a few operations a block.
const char* find_line_start(const char* from, const char* end, std::string_view text,
                            std::size_t& line_ends);
const char* find_line_start(const char* from, const char* end, std::string_view text,
                            std::size_t& line_ends, SearchMethod method);

}  // namespace kerfline
