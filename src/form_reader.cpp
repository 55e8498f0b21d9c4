#include "form_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace kerfline {

namespace {

LineRead append_line(InputBuffer& input, std::string& line) {
    bool read_any = false;
    for (;;) {
        const char* first = input.begin();
        const std::size_t available = input.size();
        if (const void* newline = std::memchr(first, '\n', available)) {
            const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - first);
            line.append(first, length);
            input.consume(length + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return LineRead::line;
        }
        line.append(first, available);
        input.consume(available);
        read_any = read_any || available > 0;
        switch (input.fill()) {
            case Fill::more: break;
            case Fill::end: return read_any ? LineRead::line : LineRead::end;
            case Fill::failed: return LineRead::failed;
        }
    }
}

}  // namespace

LineRead read_line(InputBuffer& input, std::string& line) {
    line.clear();
    // A form line is held whole; one too long for memory is a form that
    // cannot be read, not a crash.
    try {
        return append_line(input, line);
    } catch (const std::bad_alloc&) {
        line = std::string();
        return LineRead::too_long;
    }
}

std::int32_t parse_flag(std::string_view text) {
    auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::size_t at = 0;
    while (at < text.size() && is_space(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    constexpr std::int64_t limit = std::int64_t{INT_MAX} + 1;
    std::int64_t magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = std::min(magnitude * 10 + (text[at] - '0'), limit);
    }
    if (negative) return static_cast<std::int32_t>(-magnitude);
    return static_cast<std::int32_t>(std::min<std::int64_t>(magnitude, INT_MAX));
}

FormRead read_form_record(InputBuffer& form, form_record& record) {
    std::string flag_line;
    LineRead reads[3];
    reads[0] = read_line(form, record.marker_line);
    reads[1] = reads[0] == LineRead::line ? read_line(form, record.output_name) : reads[0];
    reads[2] = reads[1] == LineRead::line ? read_line(form, flag_line) : reads[1];
    switch (reads[2]) {
        case LineRead::line: break;
        case LineRead::end: return FormRead::end;
        case LineRead::failed: return FormRead::failed;
        case LineRead::too_long: return FormRead::line_too_long;
    }
    record.output_flag = parse_flag(flag_line);
    return FormRead::record;
}

}  // namespace kerfline
