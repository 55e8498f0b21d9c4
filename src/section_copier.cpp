#include "section_copier.h"

#include <algorithm>
#include <cstring>

#include "byte_search.h"

namespace kerfline {

namespace {

enum class Verdict { match, mismatch, undecided };

// Goes on comparing a line with the marker line from `at`, `seen` of its
// bytes having matched already (perhaps in an earlier read). The line
// matches when its text, "\n" or "\r\n" removed, is the marker: only one
// CR belongs to the line end, so a marker that itself ends in CR needs a
// second one. On a match `line_end` is set past the "\n".
Verdict continue_line(const char* at, const char* end, std::string_view marker,
                      std::size_t& seen, const char*& line_end) {
    const std::size_t length = marker.size();
    if (seen < length) {
        const std::size_t count = std::min(length - seen, static_cast<std::size_t>(end - at));
        if (std::memcmp(at, marker.data() + seen, count) != 0) return Verdict::mismatch;
        at += count;
        seen += count;
        if (seen < length) return Verdict::undecided;
    }
    if (seen == length) {
        if (at == end) return Verdict::undecided;
        if (*at == '\n') {
            if (!marker.empty() && marker.back() == '\r') return Verdict::mismatch;
            line_end = at + 1;
            return Verdict::match;
        }
        if (*at != '\r') return Verdict::mismatch;
        ++at;
        ++seen;
    }
    if (at == end) return Verdict::undecided;
    if (*at != '\n') return Verdict::mismatch;
    line_end = at + 1;
    return Verdict::match;
}

// The last line start in the final `within` bytes of [from, end), end
// itself included, or nullptr.
const char* last_line_start(const char* from, const char* end, std::size_t within) {
    const char* found = nullptr;
    const char* at = end - std::min(within, static_cast<std::size_t>(end - from));
    while (const void* newline = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
        at = static_cast<const char*>(newline) + 1;
        found = at;
    }
    return found;
}

// Where a section stands within one read.
struct Window {
    const char* line_end = nullptr;  // past the marker line, when it was found
    bool candidate;                  // the last line so far may still be the marker line
    std::size_t seen;                // and this many of its bytes matched
};

// Looks for the marker line in [from, end). `candidate` and `seen` say
// whether a line that began before `from` is still in the running. With
// `line_ends`, counts the "\n" up to where the window stops: the search
// counts those it passes, and the marker line has its own; a line still
// in the running has none yet.
Window scan(const char* from, const char* end, std::string_view marker, bool candidate,
            std::size_t seen, std::size_t* line_ends) {
    Window window{nullptr, false, 0};
    if (candidate) {
        switch (continue_line(from, end, marker, seen, window.line_end)) {
            case Verdict::match:
                if (line_ends != nullptr) ++*line_ends;
                return window;
            case Verdict::undecided: return {nullptr, true, seen};
            case Verdict::mismatch: break;
        }
    }
    for (const char* at = from;;) {
        at = line_ends != nullptr ? find_line_start(at, end, marker, *line_ends)
                                  : find_line_start(at, end, marker);
        if (at == end) break;
        std::size_t matched = 0;
        switch (continue_line(at, end, marker, matched, window.line_end)) {
            case Verdict::match:
                if (line_ends != nullptr) ++*line_ends;
                return window;
            case Verdict::undecided: return {nullptr, true, matched};
            case Verdict::mismatch: break;
        }
    }
    // The marker line may begin in the last bytes and end in the next read;
    // it can only be the last line, and its bytes so far are a prefix of
    // the marker (and a CR).
    if (const char* start = last_line_start(from, end, marker.size() + 2)) {
        std::size_t matched = 0;
        if (continue_line(start, end, marker, matched, window.line_end) == Verdict::undecided) {
            return {nullptr, true, matched};
        }
    }
    return window;
}

}  // namespace

Cut cut_section(InputBuffer& input, std::string_view marker, ByteSink* sink,
                std::uint64_t* line_ends) {
    // Every section begins at a line start, so its first line is in the
    // running from the start. The bytes of a line still in the running are
    // written at once like any other: whether it matches or not, it belongs
    // to this section, so only the count of its matched bytes is kept and
    // memory does not grow with the marker.
    bool candidate = true;
    std::size_t seen = 0;
    std::size_t window_line_ends = 0;
    for (;;) {
        window_line_ends = 0;
        const Window window = scan(input.begin(), input.end(), marker, candidate, seen,
                                   line_ends != nullptr ? &window_line_ends : nullptr);
        if (line_ends != nullptr) *line_ends += window_line_ends;
        const char* stop = window.line_end != nullptr ? window.line_end : input.end();
        const auto count = static_cast<std::size_t>(stop - input.begin());
        if (sink != nullptr && count > 0 && !sink->write(input.begin(), count)) {
            return Cut::write_failed;
        }
        input.consume(count);
        if (window.line_end != nullptr) return Cut::marker_found;
        candidate = window.candidate;
        seen = window.seen;
        switch (input.fill()) {
            case Fill::more: break;
            case Fill::end: return Cut::input_ended;
            case Fill::failed: return Cut::read_failed;
        }
    }
}

}  // namespace kerfline
