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

Cuts cut(const std::string& input, const std::vector<std::string>& markers,
        std::size_t capacity = InputBuffer::default_capacity, std::size_t max_read = SIZE_MAX,
        unsigned seed = 1) {
    MemorySource source(input, max_read, seed);
    InputBuffer buffer(source, capacity);
    Cuts result;
    for (const std::string& marker : markers) {
        MemorySink sink;
        result.results.push_back(cut_section(buffer, marker, &sink));
        result.sections.push_back(sink.bytes);
        result.writes += sink.writes;
    }
    return result;
}

std::vector<std::string> sections(const std::string& input, const std::vector<std::string>& markers) {
    return cut(input, markers).sections;
}

TEST(SectionCopier, SectionEndsWithItsMarkerLine) {
    EXPECT_EQ(sections("x\n=== A ===\ny\n", {"=== A ===", "never"}),
              (std::vector<std::string>{"x\n=== A ===\n", "y\n"}));
    EXPECT_EQ(sections("M\nrest\n", {"M"}), (std::vector<std::string>{"M\n"}));
}

TEST(SectionCopier, MarkersAreTakenInOrder) {
    EXPECT_EQ(sections("B\nA\nB\n", {"A", "B", "A"}),
              (std::vector<std::string>{"B\nA\n", "B\n", ""}));
}

TEST(SectionCopier, MissingMarkerTakesTheRest) {
    EXPECT_EQ(sections("a\nb\n", {"zzz", "a"}), (std::vector<std::string>{"a\nb\n", ""}));
}

TEST(SectionCopier, OnlyWholeLinesWithALineEndMatch) {
    EXPECT_EQ(sections("xM\nMx\nM", {"M"}), (std::vector<std::string>{"xM\nMx\nM"}));
    EXPECT_EQ(sections("M\r", {"M"}), (std::vector<std::string>{"M\r"}));
    EXPECT_EQ(sections("M\r\r\nM\r\n", {"M"}), (std::vector<std::string>{"M\r\r\nM\r\n"}));
    EXPECT_EQ(sections("M\r\r\nM\r\n", {"M\r", "M"}),
              (std::vector<std::string>{"M\r\r\n", "M\r\n"}));
}

TEST(SectionCopier, BlankMarkerMatchesEitherLineEnd) {
    EXPECT_EQ(sections("a\r\n\r\nb\n\nc\n", {"", ""}),
              (std::vector<std::string>{"a\r\n\r\n", "b\n\n"}));
    EXPECT_EQ(sections("\r\r\n\n", {""}), (std::vector<std::string>{"\r\r\n\n"}));
}

TEST(SectionCopier, NulIsCompared) {
    EXPECT_EQ(sections("a\0c\na\0b\nz\n"s, {"a\0b"s}),
              (std::vector<std::string>{"a\0c\na\0b\n"s}));
}

TEST(SectionCopier, WritesWholeRunsNotLines) {
    std::string input;
    for (int i = 0; i < 10000; ++i) input += "line\n";
    input += "M\n";
    const Cuts result = cut(input, {"M"});
    EXPECT_EQ(result.sections[0], input);
    EXPECT_LE(result.writes, 2u);
}

TEST(SectionCopier, ReadFailureKeepsWhatWasRead) {
    MemorySource source("abc\ndef\nM\n");
    source.fail_at = 6;
    InputBuffer buffer(source, 4);
    MemorySink sink;
    EXPECT_EQ(cut_section(buffer, "M", &sink), Cut::read_failed);
    EXPECT_EQ(sink.bytes, "abc\nde");
}

TEST(SectionCopier, TheFirstFailureIsTheOneReported) {
    // Bytes are written as they are read, so the write of "de" fails
    // before the read that would fail is tried, and the section stops there.
    MemorySource source("abc\ndef\nM\n");
    source.fail_at = 6;
    InputBuffer buffer(source, 4);
    MemorySink sink;
    sink.room = 4;
    EXPECT_EQ(cut_section(buffer, "M", &sink), Cut::write_failed);
    EXPECT_EQ(sink.bytes, "abc\n");
    EXPECT_EQ(sink.writes, 2u);
}

TEST(SectionCopier, ReadFailureAfterAMarkerBelongsToTheNextSection) {
    MemorySource source("M\nmore");
    source.fail_at = 2;
    InputBuffer buffer(source, 64);
    MemorySink sink;
    EXPECT_EQ(cut_section(buffer, "M", &sink), Cut::done);
    EXPECT_EQ(cut_section(buffer, "M", &sink), Cut::read_failed);
}

TEST(SectionCopier, SkippedSectionsStillConsumeInput) {
    MemorySource source("a\nM\nb\nN\n");
    InputBuffer buffer(source, 64);
    MemorySink sink;
    EXPECT_EQ(cut_section(buffer, "M", nullptr), Cut::done);
    EXPECT_EQ(cut_section(buffer, "N", &sink), Cut::done);
    EXPECT_EQ(sink.bytes, "b\nN\n");
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
        const Cuts result = cut(input, markers, capacity, max_read, static_cast<unsigned>(round));
        ASSERT_EQ(result.sections, model_sections(input, markers))
            << "round " << round << ", buffer " << capacity << ", reads up to " << max_read;
        for (Cut outcome : result.results) ASSERT_EQ(outcome, Cut::done);
    }
}

}  // namespace
}  // namespace kerfline::testing
