#include "error_line.h"

#include <charconv>
#include <iterator>

#include "screen.h"

namespace kerfline {

namespace {

// The words of a refusal of the tool's own.
std::string_view refusal_words(Refusal refusal) {
    switch (refusal) {
        case Refusal::none: break;
        case Refusal::output_is_form: return "the output is the form file";
        case Refusal::output_is_input: return "the output is the input file";
        case Refusal::output_is_report: return "the output is the file the report goes to";
        case Refusal::output_is_error_stream:
            return "the output is the file standard error goes to";
        case Refusal::read_is_report: return "the report goes to this file";
        case Refusal::read_is_error_stream: return "standard error goes to this file";
        case Refusal::form_line_too_long: return "a form line too long for memory";
        case Refusal::out_of_memory: return "out of memory";
    }
    return {};
}

// One line gathered in a fixed buffer, so that it needs no memory and goes
// out in one write, a line with a long path in several.
class ErrorLine {
public:
    ErrorLine() : screen_(screen_of(StandardStream::error)) { put("kerfline: "); }

    void put(std::string_view text) {
        for (const char c : text) put(c);
    }
    // A path, or the system's words for an error, which on Windows are in
    // the code page names are in: one line whatever its bytes, and on a
    // screen shown as the report shows text.
    void put_shown(std::string_view text) {
        if (screen_ != Screen::none) {
            ScreenText shown(screen_, text);
            for (std::string_view piece; shown.next(piece);) put(piece);
            return;
        }
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0x20 && byte != 0x7f) {
                put(c);
                continue;
            }
            char escape[4];
            put({escape, escape_byte(byte, escape)});
        }
    }
    void finish() {
        put('\n');
        flush();
    }

private:
    void put(char c) {
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = c;
    }
    void flush() {
        write_standard(StandardStream::error, buffer_, used_);
        used_ = 0;
    }

    Screen screen_;
    char buffer_[4096];
    std::size_t used_ = 0;
};

}  // namespace

std::string_view reason_words(const Failure& why, char (&buffer)[512]) {
    if (why.refusal != Refusal::none) return refusal_words(why.refusal);
    // The words for what the platform layer found, or the system's own.
    switch (why.error.kind) {
        case FileError::Kind::directory: return "Is a directory";
        case FileError::Kind::nul_in_name: return "the name holds a NUL byte";
        case FileError::Kind::shrank: return "the file shrank while it was read";
        case FileError::Kind::name_outside_code_page: {
            constexpr std::string_view words = "the name is not text in code page ";
            words.copy(buffer, words.size());
            const char* end = std::to_chars(buffer + words.size(), std::end(buffer), why.error.code_page).ptr;
            return {buffer, static_cast<std::size_t>(end - buffer)};
        }
        case FileError::Kind::system:
        case FileError::Kind::would_wait: break;
    }
    return describe_system_error(why.error.system_code, buffer);
}

void write_reason(std::string_view path, const Failure& why) {
    ErrorLine line;
    line.put_shown(path);
    line.put(": ");
    char words[512];
    line.put_shown(reason_words(why, words));
    line.finish();
}

void write_out_of_memory() {
    ErrorLine line;
    line.put("out of memory");
    line.finish();
}

}  // namespace kerfline
