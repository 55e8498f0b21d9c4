#include "section_copier.h"

#include <algorithm>
#include <cstring>

#include "byte_search.h"

namespace kerfline {

namespace {

enum class LineEnd { present, absent, unknown };

// Whether a line end follows a marker's text at `at`. Only one CR belongs
// to a line end, so the text of "X\r\n" is "X" and a text that ends in CR
// needs a CR of its own before the LF.
LineEnd line_end_at(const char* at, const char* end, bool text_ends_in_cr) {
    if (at == end) return LineEnd::unknown;
    if (*at == '\n') return text_ends_in_cr ? LineEnd::absent : LineEnd::present;
    if (*at != '\r') return LineEnd::absent;
    if (at + 1 == end) return LineEnd::unknown;
    return at[1] == '\n' ? LineEnd::present : LineEnd::absent;
}

// The next place at or after `from` where a line equal to the marker could
// begin, or `end`.
const char* next_candidate(const char* from, const char* end, std::string_view marker) {
    if (marker.empty()) {
        // An empty line starts at its own line end.
        const void* hit = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
        if (hit == nullptr) return end;
        const char* newline = static_cast<const char*>(hit);
        return newline > from && newline[-1] == '\r' ? newline - 1 : newline;
    }
    return find_bytes(from, end, marker);
}

struct Scan {
    const char* stop;       // the bytes before it are decided
    bool matched;           // and end with the marker line
    bool stop_at_line_start;
};

// Looks for the marker line in [from, end). Unless `final`, a candidate that
// runs past `end` stops the scan so that more input can decide it.
Scan scan(const char* from, const char* end, bool from_at_line_start, std::string_view marker,
          bool final) {
    auto line_start = [&](const char* at) { return at == from ? from_at_line_start : at[-1] == '\n'; };
    const bool text_ends_in_cr = !marker.empty() && marker.back() == '\r';
    for (const char* at = from;; ++at) {
        at = next_candidate(at, end, marker);
        if (at == end) break;
        if (!line_start(at)) continue;
        const char* text_end = at + marker.size();
        switch (line_end_at(text_end, end, text_ends_in_cr)) {
            case LineEnd::present:
                return {text_end + (*text_end == '\r' ? 2 : 1), true, true};
            case LineEnd::unknown:
                if (!final) return {at, false, true};
                break;
            case LineEnd::absent:
                break;
        }
    }
    if (final) return {end, false, false};
    // A marker line may begin in the last bytes and end in the next read.
    const std::size_t held = std::min<std::size_t>(static_cast<std::size_t>(end - from),
                                                   marker.size() + 1);
    const char* stop = end - held;
    return {stop, false, line_start(stop)};
}

}  // namespace

Transfer transfer_section(InputBuffer& input, std::string_view marker, ByteSink* sink) {
    input.reserve_window(marker.size() + 2);
    bool at_line_start = true;
    for (;;) {
        const bool final = input.exhausted();
        const Scan found = scan(input.begin(), input.end(), at_line_start, marker, final);
        const auto count = static_cast<std::size_t>(found.stop - input.begin());
        if (sink != nullptr && count > 0 && !sink->write(input.begin(), count)) {
            // After a failed read only the bytes read before it are left to
            // write; the read is the failure to report.
            return input.failed() ? Transfer::read_failed : Transfer::write_failed;
        }
        input.consume(count);
        if (found.matched) return Transfer::completed;
        if (final) return input.failed() ? Transfer::read_failed : Transfer::completed;
        at_line_start = found.stop_at_line_start;
        input.fill();
    }
}

SectionResult copy_section(InputBuffer& input, const form_record& record, Console& console,
                           std::span<const FileId> guarded) {
    File output;
    if (record.output_flag != 0 &&
        !open_reported(console, record.output_name, guarded, output)) {
        return SectionResult::output_unopened;
    }
    ByteSink* sink = record.output_flag == 1 ? &output : nullptr;
    switch (transfer_section(input, record.marker_line, sink)) {
        case Transfer::completed: break;
        case Transfer::read_failed: return SectionResult::input_unreadable;
        case Transfer::write_failed: return SectionResult::output_unwritable;
    }
    if (!output.close()) return SectionResult::output_unwritable;
    return SectionResult::done;
}

}  // namespace kerfline
