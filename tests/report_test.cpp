#include "report.h"

#include <gtest/gtest.h>

#include <iconv.h>

namespace kerfline::testing {
namespace {

std::string to_cp932(std::string_view utf8) {
    iconv_t converter = ::iconv_open("CP932", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) return "(no CP932 converter)";
    std::string in(utf8);
    std::string out(in.size() * 2 + 1, '\0');
    char* in_at = in.data();
    char* out_at = out.data();
    std::size_t in_left = in.size();
    std::size_t out_left = out.size();
    const std::size_t converted = ::iconv(converter, &in_at, &in_left, &out_at, &out_left);
    ::iconv_close(converter);
    if (converted == static_cast<std::size_t>(-1)) return "(not convertible)";
    out.resize(out.size() - out_left);
    return out;
}

TEST(Report, EveryShiftJisTextIsTheCp932OfItsReadableText) {
#if KERFLINE_CROSS_BUILT
    GTEST_SKIP() << "Debian's C library for another processor comes without iconv's converters; "
                    "the texts are the same bytes everywhere and the native build checks them";
#endif
    for (const FixedText& text : fixed_texts()) {
        EXPECT_EQ(to_cp932(text.utf8), text.shift_jis) << text.utf8;
    }
}

}  // namespace
}  // namespace kerfline::testing
