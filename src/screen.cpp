#include "screen.h"

#include <algorithm>
#include <charconv>
#include <iterator>

#include "console.h"
#include "cp932.h"

namespace kerfline {

namespace {

constexpr std::uint32_t utf8_code_page = 65001;

// The UTF-8 character at the start of `bytes`: its length, or 0 for a
// stray byte, an overlong form, a surrogate, a sequence cut short or one
// past U+10FFFF.
std::size_t utf8_character(std::string_view bytes, char32_t& code_point) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xc2 ? 0 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3
                                                                : lead < 0xf5 ? 4 : 0;
    if (length == 0 || length > bytes.size()) return 0;
    code_point = length == 1 ? lead : lead & (0x7f >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xc0) != 0x80) return 0;
        code_point = code_point << 6 | (next & 0x3f);
    }
    constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool surrogate = code_point >= 0xd800 && code_point <= 0xdfff;
    return code_point < least[length] || surrogate || code_point > 0x10ffff ? 0 : length;
}

std::size_t to_utf8(char32_t code_point, char* into) {
    if (code_point < 0x80) {
        into[0] = static_cast<char>(code_point);
        return 1;
    }
    const std::size_t length = code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
    for (std::size_t i = length - 1; i > 0; --i) {
        into[i] = static_cast<char>(0x80 | (code_point & 0x3f));
        code_point >>= 6;
    }
    constexpr unsigned char marks[] = {0, 0, 0xc0, 0xe0, 0xf0};
    into[0] = static_cast<char>(marks[length] | code_point);
    return length;
}

template <typename Read>
bool reads_whole(std::string_view text, Read read) {
    char32_t ignored;
    for (std::size_t at = 0, length; at < text.size(); at += length) {
        length = read(text.substr(at), ignored);
        if (length == 0) return false;
    }
    return true;
}

}  // namespace

std::size_t escape_byte(unsigned char byte, char (&escape)[4]) {
    escape[0] = '\\';
    if (byte == '\n' || byte == '\r' || byte == '\t') {
        escape[1] = byte == '\n' ? 'n' : byte == '\r' ? 'r' : 't';
        return 2;
    }
    constexpr char hex[] = "0123456789abcdef";
    escape[1] = 'x';
    escape[2] = hex[byte >> 4];
    escape[3] = hex[byte & 0xf];
    return 4;
}

ScreenText::ScreenText(Screen screen, std::string_view text) : text_(text) {
    switch (screen) {
        case Screen::none: reading_ = Reading::as_it_is; return;
        case Screen::shift_jis: reading_ = Reading::bytes; return;
        case Screen::utf8: break;
    }
    code_page_ = names_code_page();
    if (code_page_ == utf8_code_page || (code_page_ == 0 && reads_whole(text, utf8_character))) {
        reading_ = Reading::utf8;
    } else if (code_page_ == 0) {
        // Neither UTF-8 nor code page 932 as a whole: what is UTF-8 of it
        // is still shown, the rest escaped.
        reading_ = reads_whole(text, cp932_character) ? Reading::cp932 : Reading::utf8;
    } else {
        reading_ = Reading::code_page;
    }
}

std::size_t ScreenText::character(std::size_t at, char32_t& code_point) const {
    const std::string_view rest = text_.substr(at);
    switch (reading_) {
        case Reading::as_it_is:
        case Reading::bytes: code_point = static_cast<unsigned char>(rest[0]); return 1;
        case Reading::utf8: return utf8_character(rest, code_point);
        case Reading::cp932: return cp932_character(rest, code_point);
        case Reading::code_page:
            if (static_cast<unsigned char>(rest[0]) < 0x80) {
                code_point = static_cast<unsigned char>(rest[0]);
                return 1;
            }
            return code_page_character(code_page_, rest, code_point);
    }
    return 0;
}

bool ScreenText::shown_escaped(char32_t code_point) const {
    if (reading_ == Reading::as_it_is) return false;
    if (code_point == 0x7f || (code_point < 0x20 && code_point != '\t')) return true;
    return reading_ != Reading::bytes && code_point >= 0x80 && code_point < 0xa0;
}

bool ScreenText::next(std::string_view& piece) {
    if (at_ == text_.size()) return false;
    // A run of bytes shown as they are: a UTF-8 screen shows UTF-8 text
    // as it is and other text's ASCII, a Shift_JIS screen every byte but
    // the controls.
    const bool runs_past_ascii = reading_ == Reading::utf8 || reading_ == Reading::bytes ||
                                 reading_ == Reading::as_it_is;
    std::size_t end = at_;
    char32_t code_point = 0;
    for (std::size_t length; end < text_.size(); end += length) {
        length = character(end, code_point);
        if (length == 0 || shown_escaped(code_point) || (code_point >= 0x80 && !runs_past_ascii)) {
            break;
        }
    }
    if (end > at_) {
        piece = text_.substr(at_, end - at_);
        at_ = end;
        return true;
    }
    // One character that is escaped or decoded, or a byte that is none.
    const std::size_t length = character(at_, code_point);
    std::size_t size = 0;
    if (length == 0 || shown_escaped(code_point)) {
        for (std::size_t i = 0; i < std::max<std::size_t>(length, 1); ++i) {
            char escape[4];
            const std::size_t escape_size = escape_byte(static_cast<unsigned char>(text_[at_ + i]), escape);
            std::copy_n(escape, escape_size, shown_ + size);
            size += escape_size;
        }
    } else {
        size = to_utf8(code_point, shown_);
    }
    at_ += std::max<std::size_t>(length, 1);
    piece = {shown_, size};
    return true;
}

namespace {

using Clock = std::chrono::steady_clock;

// A line of the progress text, in a fixed buffer.
class Line {
public:
    void put(std::string_view text) {
        const std::size_t count = std::min(text.size(), sizeof bytes_ - size_);
        std::copy_n(text.data(), count, bytes_ + size_);
        size_ += count;
    }
    void put_number(std::uint64_t number) {
        char digits[24];
        put({digits, static_cast<std::size_t>(std::to_chars(digits, std::end(digits), number).ptr - digits)});
    }
    // "812 B", "1.5 KiB", "3.0 GiB": three significant figures at most
    // past the first thousand.
    void put_size(std::uint64_t bytes) {
        constexpr std::string_view units[] = {" B", " KiB", " MiB", " GiB", " TiB", " PiB", " EiB"};
        std::size_t unit = 0;
        std::uint64_t whole = bytes, tenths = 0;
        while (whole >= 1024 && unit + 1 < std::size(units)) {
            tenths = (whole % 1024) * 10 / 1024;
            whole /= 1024;
            ++unit;
        }
        put_number(whole);
        if (unit > 0 && whole < 100) {
            put(".");
            put_number(tenths);
        }
        put(units[unit]);
    }
    std::string_view text() const { return {bytes_, size_}; }

private:
    char bytes_[96];
    std::size_t size_ = 0;
};

}  // namespace

Progress::Progress(Console& console)
    : console_(console), watched_(console.shows_progress()), start_(Clock::now()), drawn_(start_) {}

void Progress::redraw() {
    const Clock::time_point now = Clock::now();
    using std::chrono::milliseconds;
    if (now - start_ < milliseconds(1000) || now - drawn_ < milliseconds(250)) return;
    drawn_ = now;
    const auto elapsed_ms = std::chrono::duration_cast<milliseconds>(now - start_).count();
    Line line;
    line.put("kerfline: ");
    line.put_size(read_);
    if (size_ != 0) {
        line.put(" of ");
        line.put_size(std::max(size_, read_));
        line.put(" read (");
        line.put_number(std::min<std::uint64_t>(read_ * 100 / size_, 100));
        line.put("%)");
    } else {
        line.put(" read");
    }
    line.put(", record ");
    line.put_number(static_cast<std::uint64_t>(record_));
    line.put(", ");
    line.put_size(read_ * 1000 / static_cast<std::uint64_t>(std::max<long long>(elapsed_ms, 1)));
    line.put("/s");
    console_.show_progress(line.text());
}

}  // namespace kerfline
