#include "section_copier.h"

#include <gtest/gtest.h>

#include <random>

#include "memory_io.h"
#include "model.h"

namespace kerfline::testing {
namespace {

using namespace std::string_literals;

struct Cuts {
    std::vector<std::string> sections;
    std::vector<Cut> results;
    std::size_t writes = 0;
};

// How the input is read and the sections written: reads of random length
// up to max_read, failing from byte fail_at on; writes failing past `room`
// bytes of a section; the section at `unwritten` cut with no sink.
struct Reading {
    std::size_t capacity = InputBuffer::default_capacity, max_read = SIZE_MAX;
    unsigned seed = 1;
    std::size_t fail_at = SIZE_MAX, room = SIZE_MAX, unwritten = SIZE_MAX;
};

Cuts cut(const std::string& input, const std::vector<std::string>& markers,
         const Reading& reading = {}) {
    MemorySource source(input, reading.max_read, reading.seed);
    source.fail_at = reading.fail_at;
    InputBuffer buffer(source, reading.capacity);
    Cuts result;
    for (const std::string& marker : markers) {
        MemorySink sink;
        sink.room = reading.room;
        const bool written = result.sections.size() != reading.unwritten;
        result.results.push_back(cut_section(buffer, marker, written ? &sink : nullptr));
        result.sections.push_back(sink.bytes);
        result.writes += sink.writes;
    }
    return result;
}

TEST(SectionCopier, SectionsEndWithTheirMarkerLines) {
    const struct {
        std::string input;
        std::vector<std::string> markers, sections;
    } cases[] = {
        // A section ends with its marker line; a marker that never occurs
        // takes the rest, and after the end sections are empty.
        {"x\n=== A ===\ny\n", {"=== A ===", "never"}, {"x\n=== A ===\n", "y\n"}},
        {"M\nrest\n", {"M"}, {"M\n"}},
        {"a\nb\n", {"zzz", "a"}, {"a\nb\n", ""}},
        // Markers are taken in order: an earlier line equal to a later
        // marker does not end that marker's section.
        {"B\nA\nB\n", {"A", "B", "A"}, {"B\nA\n", "B\n", ""}},
        // Only a whole line with a line end matches: not a part of a line,
        // not a last line without "\n"; only one CR is part of the line end,
        // so a marker ending in CR matches a line ending in "\r\r\n" only.
        {"xM\nMx\nM", {"M"}, {"xM\nMx\nM"}},
        {"M\r", {"M"}, {"M\r"}},
        {"M\r\r\nM\r\n", {"M"}, {"M\r\r\nM\r\n"}},
        {"M\r\r\nM\r\n", {"M\r", "M"}, {"M\r\r\n", "M\r\n"}},
        {"M\r\nM\r\r\n", {"M\r"}, {"M\r\nM\r\r\n"}},
        // A blank marker matches an empty line with either line end.
        {"a\r\n\r\nb\n\nc\n", {"", ""}, {"a\r\n\r\n", "b\n\n"}},
        {"\r\r\n\n", {""}, {"\r\r\n\n"}},
        // NUL is a byte like any other, not the end of a marker.
        {"a\0c\na\0b\nz\n"s, {"a\0b"s}, {"a\0c\na\0b\n"s}},
    };
    for (const auto& [input, markers, sections] : cases) {
        EXPECT_EQ(cut(input, markers).sections, sections) << ::testing::PrintToString(input);
    }
}

TEST(SectionCopier, FailedAndUnwrittenSectionsEndWhereTheyShould) {
    const struct {
        std::string input;
        Reading reading;
        std::vector<std::string> markers, sections;
        std::vector<Cut> results;
        std::size_t writes;
    } cases[] = {
        // A failed read ends the section with what was read before it; one
        // right after a marker line belongs to the next section.
        {"abc\ndef\nM\n", {.capacity = 4, .fail_at = 6}, {"M"}, {"abc\nde"}, {Cut::read_failed}, 2},
        {"M\nmore", {.fail_at = 2}, {"M", "M"}, {"M\n", ""}, {Cut::marker_found, Cut::read_failed}, 1},
        // Bytes are written as they are read, so the write of "de" fails
        // before the read that would fail is tried, and nothing is written
        // after it.
        {"abc\ndef\nM\n", {.capacity = 4, .fail_at = 6, .room = 4}, {"M"}, {"abc\n"},
         {Cut::write_failed}, 2},
        // A section that is not written still moves the input past it.
        {"a\nM\nb\nN\n", {.unwritten = 0}, {"M", "N"}, {"", "b\nN\n"}, {Cut::marker_found, Cut::marker_found}, 1},
    };
    for (const auto& [input, reading, markers, sections, results, writes] : cases) {
        const Cuts result = cut(input, markers, reading);
        EXPECT_EQ(result.sections, sections) << input;
        EXPECT_EQ(result.results, results) << input;
        EXPECT_EQ(result.writes, writes) << input;
    }
}

TEST(SectionCopier, WritesWholeRunsNotLines) {
    std::string input;
    for (int i = 0; i < 10000; ++i) input += "line\n";
    input += "M\n";
    const Cuts result = cut(input, {"M"});
    EXPECT_EQ(result.sections[0], input);
    EXPECT_LE(result.writes, 2u);
}

// Every buffer boundary, against the model: tiny buffers and reads of random
// length split markers, CR LF pairs and long lines at every possible place.
TEST(SectionCopier, RandomInputsAgreeWithTheModel) {
    std::mt19937 random(12082026);
    const std::vector<std::string> words = {"A", "B", "", "AB", "\r", "A\r", "\x1a", "\0"s,
                                            std::string(70, 'A'), "ABA"};
    const std::vector<std::string> ends = {"\n", "\r\n", "\r\r\n", "\r", ""};
    auto pick = [&](const auto& from) { return from[random() % from.size()]; };
    for (int round = 0; round < 3000; ++round) {
        std::string input;
        for (int lines = static_cast<int>(random() % 30); lines > 0; --lines) {
            input += pick(words) + pick(words) + (random() % 4 == 0 ? pick(ends) : "\n");
        }
        std::vector<std::string> markers;
        for (int count = 1 + static_cast<int>(random() % 5); count > 0; --count) {
            markers.push_back(pick(words) + (random() % 3 == 0 ? pick(words) : ""));
        }
        const std::size_t capacity = round % 10 == 0 ? InputBuffer::default_capacity : 1 + random() % 64;
        const std::size_t max_read = round % 3 == 0 ? SIZE_MAX : 1 + random() % 16;
        const Cuts result = cut(input, markers, {.capacity = capacity, .max_read = max_read,
                                                  .seed = static_cast<unsigned>(round)});
        ASSERT_EQ(result.sections, model_sections(input, markers))
            << "round " << round << ", buffer " << capacity << ", reads up to " << max_read;
        // A section that ends with its marker line found it; any other, the input's end.
        for (std::size_t index = 0; index < markers.size(); ++index) {
            const std::vector<ModelLine> lines = model_lines(result.sections[index]);
            const bool found = !lines.empty() && lines.back().ended && lines.back().text == markers[index];
            ASSERT_EQ(result.results[index], found ? Cut::marker_found : Cut::input_ended) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace kerfline::testing
