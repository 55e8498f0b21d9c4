#include "byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kerfline::testing {
namespace {

// The first line start after `from` that `text` follows in full, found the
// slow way.
std::size_t first_line_start(std::string_view haystack, std::size_t from, std::string_view text) {
    for (std::size_t at = from + 1; at + std::max<std::size_t>(text.size(), 1) <= haystack.size(); ++at) {
        if (haystack[at - 1] == '\n' && haystack.substr(at, text.size()) == text) return at;
    }
    return haystack.size();
}

// Each method the processor runs, on texts of few letters so that partial
// matches abound, at every alignment, with texts long enough to cross
// blocks and texts made of line ends and of the marker's own bytes.
TEST(ByteSearch, EveryMethodFindsTheFirstMatchingLineStart) {
    std::mt19937 random(8);
    for (SearchMethod method : usable_search_methods()) {
        for (int round = 0; round < 20000; ++round) {
            const char* letters = round % 2 ? "a\n" : "ab\n\0";
            const std::size_t alphabet = round % 2 ? 2 : 4;
            std::string haystack(random() % 300, 'a');
            for (char& c : haystack) c = letters[random() % alphabet];
            std::string text(random() % (round % 3 ? 4 : 70), 'a');
            for (char& c : text) c = "ab\0"[random() % (round % 5 ? 1 : 3)];
            const std::size_t from = haystack.empty() ? 0 : random() % haystack.size();
            const std::string_view view(haystack);
            const char* found =
                find_line_start(view.data() + from, view.data() + view.size(), text, method);
            ASSERT_EQ(static_cast<std::size_t>(found - view.data()), first_line_start(view, from, text))
                << "method " << static_cast<int>(method) << ", round " << round;
        }
    }
}

}  // namespace
}  // namespace kerfline::testing
