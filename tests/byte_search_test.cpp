#include "byte_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace kerfline {

void PrintTo(SearchMethod method, std::ostream* out) {
    *out << std::array{"plain", "sse2", "avx2", "avx512", "neon"}[static_cast<std::size_t>(method)];
}

namespace testing {
namespace {

// The best method this processor runs, asked of the processor itself and
// not of the code under test; under qemu-user the emulated one answers.
SearchMethod best_method_of_this_processor() {
#if defined(__x86_64__) || defined(__i386__)
    // The AVX methods need the instructions and the system's saving of their
    // registers (XCR0: the YMM halves, and for AVX-512 the opmask and ZMM states too).
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0, leaf7 = 0;  // leaf7 stays 0 without leaf 7
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return SearchMethod::plain;
    const bool sse2 = (edx & bit_SSE2) != 0;
    std::uint32_t saved = 0, high = 0;
    if ((ecx & bit_AVX) != 0 && (ecx & bit_OSXSAVE) != 0) __asm__("xgetbv" : "=a"(saved), "=d"(high) : "c"(0));
    __get_cpuid_count(7, 0, &eax, &leaf7, &ecx, &edx);
    if ((saved & 0xe6) == 0xe6 && (leaf7 & bit_AVX512F) != 0 && (leaf7 & bit_AVX512BW) != 0) {
        return SearchMethod::avx512;
    }
    if ((saved & 0x06) == 0x06 && (leaf7 & bit_AVX2) != 0) return SearchMethod::avx2;
    return sse2 ? SearchMethod::sse2 : SearchMethod::plain;
#elif defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return SearchMethod::neon;  // part of every AArch64 processor
#else
    return SearchMethod::plain;
#endif
}

// A build that lost its vector code (a condition renamed, a feature check
// changed) runs the plain method and passes every other test.
TEST(ByteSearch, TheBestMethodOfThisProcessorIsTaken) {
    EXPECT_EQ(default_search_method(), best_method_of_this_processor());
    EXPECT_EQ(usable_search_methods().back(), best_method_of_this_processor());
}

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
// blocks and texts made of line ends and of the marker's own bytes; and
// each counts the line ends it passes.
TEST(ByteSearch, EveryMethodFindsTheFirstMatchingLineStart) {
    std::mt19937 random(8);
    for (SearchMethod method : usable_search_methods()) {
        for (int round = 0; round < 20000; ++round) {
            const char* letters = round % 2 ? "a\n" : "ab\n\0";
            const std::size_t alphabet = round % 2 ? 2 : 4;
            std::string haystack(random() % (round % 4 ? 300 : 3000), 'a');
            for (char& c : haystack) c = letters[random() % alphabet];
            std::string text(random() % (round % 3 ? 4 : 70), 'a');
            for (char& c : text) c = "ab\0"[random() % (round % 5 ? 1 : 3)];
            const std::size_t from = haystack.empty() ? 0 : random() % haystack.size();
            const std::string_view view(haystack);
            const char* found =
                find_line_start(view.data() + from, view.data() + view.size(), text, method);
            ASSERT_EQ(static_cast<std::size_t>(found - view.data()), first_line_start(view, from, text))
                << ::testing::PrintToString(method) << ", round " << round;
            std::size_t line_ends = 0;
            ASSERT_EQ(find_line_start(view.data() + from, view.data() + view.size(), text, line_ends, method), found);
            ASSERT_EQ(line_ends, std::count(view.data() + from, found, '\n'))
                << ::testing::PrintToString(method) << ", round " << round;
        }
        // Blocks passed by the thousand, every place after a line end: no count overflows.
        const std::string ends(100000, '\n');
        std::size_t line_ends = 0;
        EXPECT_EQ(find_line_start(ends.data(), ends.data() + ends.size(), "x", line_ends, method),
                  ends.data() + ends.size());
        EXPECT_EQ(line_ends, ends.size()) << ::testing::PrintToString(method);
    }
}

}  // namespace
}  // namespace testing
}  // namespace kerfline
