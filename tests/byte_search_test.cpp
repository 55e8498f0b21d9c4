#include "byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kerfline::testing {
namespace {

// Each method the processor runs, against std::string_view::find, on texts
// made of few letters so that partial matches abound, at every alignment
// and with needles that cross block edges.
TEST(ByteSearch, EveryMethodFindsTheFirstOccurrence) {
    std::mt19937 random(8);
    for (SearchMethod method : usable_search_methods()) {
        for (int round = 0; round < 20000; ++round) {
            std::string text(random() % 300, 'a');
            for (char& c : text) c = "ab\n\0"[random() % (round % 2 ? 2 : 4)];
            std::string needle(1 + random() % (round % 3 ? 4 : 70), 'a');
            for (char& c : needle) c = "ab\n\0"[random() % 2];
            const std::size_t from = text.empty() ? 0 : random() % text.size();
            const std::string_view view(text);
            const std::size_t expected = view.find(needle, from);
            const char* found = find_bytes(view.data() + from, view.data() + view.size(), needle, method);
            ASSERT_EQ(static_cast<std::size_t>(found - view.data()),
                      expected == std::string_view::npos ? view.size() : expected)
                << "method " << static_cast<int>(method) << ", round " << round;
        }
    }
}

}  // namespace
}  // namespace kerfline::testing
