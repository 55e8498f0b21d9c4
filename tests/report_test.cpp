#include "report.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include "cp932.h"
#include "screen.h"

namespace kerfline::testing {
namespace {

using namespace std::string_literals;

// `bytes` converted by the C library, or nullopt when they do not convert.
std::optional<std::string> convert(const char* from, const char* to, std::string_view bytes) {
    iconv_t converter = ::iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return "(no " + std::string(from) + " converter)";
    std::string in(bytes);
    std::string out(in.size() * 4 + 4, '\0');
    char* in_at = in.data();
    char* out_at = out.data();
    std::size_t in_left = in.size();
    std::size_t out_left = out.size();
    const std::size_t converted = ::iconv(converter, &in_at, &in_left, &out_at, &out_left);
    ::iconv_close(converter);
    if (converted == static_cast<std::size_t>(-1)) return std::nullopt;
    out.resize(out.size() - out_left);
    return out;
}

#if KERFLINE_CROSS_BUILT
#define SKIP_WITHOUT_ICONV()                                                                  \
    GTEST_SKIP() << "Debian's C library for another processor comes without iconv's "        \
                    "converters; the texts and the table are the same bytes everywhere and " \
                    "the native build checks them"
#else
#define SKIP_WITHOUT_ICONV()
#endif

TEST(Report, EveryShiftJisTextIsTheCp932OfItsReadableText) {
    SKIP_WITHOUT_ICONV();
    for (const FixedText& text : fixed_texts()) {
        EXPECT_EQ(convert("UTF-8", "CP932", text.utf8), text.shift_jis) << text.utf8;
    }
}

// Every byte and pair of bytes reads as the C library reads code page 932.
TEST(Report, Cp932ReadsAsTheCLibraryReadsIt) {
    SKIP_WITHOUT_ICONV();
    for (unsigned lead = 0; lead < 0x100; ++lead) {
        for (unsigned trail = 0; trail < 0x100; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            char32_t character = 0;
            const std::size_t length = cp932_character(pair, character);
            const std::optional<std::string> expected =
                convert("CP932", "UTF-32LE", pair.substr(0, length == 1 ? 1 : 2));
            const std::string got(reinterpret_cast<const char*>(&character), 4);
            ASSERT_EQ(length == 0 ? std::nullopt : std::optional(got), expected)
                << std::hex << lead << " " << trail;
            if (length == 1) break;  // the trail is the next character's
        }
    }
}

// What a person sees of text from the form: nothing that acts on the screen,
// and its own characters where the screen can show them.
TEST(Report, EchoedTextIsSafeAndReadableOnAScreen) {
    const struct {
        Screen screen;
        std::string text, shown;
    } cases[] = {
        {Screen::none, "\x1b]0;owned\x07 \r\x82\xa0\xc2\x9b", "\x1b]0;owned\x07 \r\x82\xa0\xc2\x9b"},
        // C0 controls but the tab, and DEL; Shift_JIS as it is.
        {Screen::shift_jis, "\x1b[2J\ta\rb\x7f\x95\x5c\n", "\\x1b[2J\ta\\rb\\x7f\x95\x5c\\n"},
        // UTF-8 as it is but its C1 controls, code page 932 decoded, and
        // what is neither escaped byte by byte.
        {Screen::utf8, "表示 \x1b\xc2\x9b\xc2\xa0", "表示 \\x1b\\xc2\\x9b\xc2\xa0"},
        {Screen::utf8, "\x95\x5c\x8e\xa6\x1b\xb1", "表示\\x1bｱ"},
        {Screen::utf8, "表\xff\x95\x5c\xed\xa0\x80", "表\\xff\\x95\\\\xed\\xa0\\x80"},
    };
    for (const auto& [screen, text, shown] : cases) {
        std::string seen;
        ScreenText pieces(screen, text);
        for (std::string_view piece; pieces.next(piece);) seen += piece;
        EXPECT_EQ(seen, shown) << text;
    }
}

}  // namespace
}  // namespace kerfline::testing
