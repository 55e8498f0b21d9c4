#include "form_reader.h"

#include <gtest/gtest.h>

#include <climits>

#include "memory_io.h"

namespace kerfline::testing {
namespace {

using namespace std::string_literals;

// What one read gave, copied out of the record the next read overwrites.
struct Read {
    FormRead result;
    struct {
        std::string marker_line;
        std::string output_name;
        std::int32_t output_flag;
    } record;
};

std::vector<Read> read_all(const std::string& form, std::size_t capacity = 64,
                           std::size_t max_read = SIZE_MAX) {
    MemorySource source(form, max_read);
    InputBuffer buffer(source, capacity);
    FormRecord record;
    std::vector<Read> reads;
    for (;;) {
        const FormRead result = read_form_record(buffer, record);
        reads.push_back({result, {std::string(record.marker_line.view()),
                                  std::string(record.output_name.view()), record.output_flag}});
        if (result != FormRead::record) return reads;
    }
}

TEST(FormReader, RecordsAreThreeLines) {
    const auto reads = read_all("=== A ===\na.txt\n1\n=== B ===\nb.txt\n0\n");
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].record.marker_line, "=== A ===");
    EXPECT_EQ(reads[0].record.output_name, "a.txt");
    EXPECT_EQ(reads[0].record.output_flag, 1);
    EXPECT_EQ(reads[1].record.marker_line, "=== B ===");
    EXPECT_EQ(reads[1].record.output_flag, 0);
    EXPECT_EQ(reads[2].result, FormRead::end);
}

TEST(FormReader, IncompleteTrailingRecordsAreNoRecords) {
    for (const std::string form : {"", "M\n", "M\nname\n", "M\nname"}) {
        EXPECT_EQ(read_all(form).front().result, FormRead::end) << form;
    }
    EXPECT_EQ(read_all("A\na\n1\nB\nb\n1\nC\n").size(), 3u);
    EXPECT_EQ(read_all("A\na\n1").front().result, FormRead::record);
    EXPECT_EQ(read_all("A\na\n\n").front().record.output_flag, 0);
}

TEST(FormReader, FieldsKeepEveryByteButTheLineEnd) {
    // One byte a read too: a CR LF split across reads is still a line end.
    for (std::size_t max_read : {std::size_t{1}, SIZE_MAX}) {
        const auto reads =
            read_all(" M \r\n out.txt \t\r\n1\r\n\n\0n\x82\xa0\r\r\n2\r"s, 64, max_read);
        EXPECT_EQ(reads[0].record.marker_line, " M ");
        EXPECT_EQ(reads[0].record.output_name, " out.txt \t");
        EXPECT_EQ(reads[1].record.marker_line, "");
        EXPECT_EQ(reads[1].record.output_name, "\0n\x82\xa0\r"s);
        EXPECT_EQ(reads[1].record.output_flag, 2);
    }
}

TEST(FormReader, LongLinesNeverShiftRecords) {
    const std::string marker(100000, 'm');
    for (std::size_t max_read : {std::size_t{1}, std::size_t{7}, SIZE_MAX}) {
        const auto reads = read_all(marker + "\nname\n1\n" + marker + "\n" + marker + "\n2\n", 16,
                                    max_read);
        ASSERT_EQ(reads.size(), 3u);
        EXPECT_EQ(reads[0].record.marker_line, marker);
        EXPECT_EQ(reads[1].record.output_name, marker);
        EXPECT_EQ(reads[1].record.output_flag, 2);
    }
}

TEST(FormReader, ReadErrorIsNotTheEnd) {
    MemorySource source("A\na\n1\nB\nb\n1\n");
    source.fail_at = 8;
    InputBuffer buffer(source, 4);
    FormRecord record;
    EXPECT_EQ(read_form_record(buffer, record), FormRead::record);
    EXPECT_EQ(read_form_record(buffer, record), FormRead::failed);
}

// Read a byte at a time too, as a flag line is never held whole.
TEST(FormReader, FlagsReadAsAtoiWithinInt32) {
    const std::pair<std::string, int> cases[] = {
        {"1", 1},          {" 1", 1},           {"+1", 1},          {"01", 1},
        {"1 write", 1},    {"1abc", 1},         {"\x82\x50", 0},    {"0x1", 0},
        {"-1", -1},        {"-0", 0},           {"+-1", 0},         {"- 1", 0},
        {"\0" "1"s, 0},    {"\t\v\f\r 7", 7},   {"", 0},            {"2147483647", INT_MAX},
        {"2147483648", INT_MAX}, {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN},
        {"99999999999999999999999", INT_MAX},   {"-99999999999999999999999", INT_MIN},
    };
    for (std::size_t max_read : {std::size_t{1}, SIZE_MAX}) {
        for (const auto& [text, value] : cases) {
            EXPECT_EQ(read_all("M\nname\n" + text + "\n", 64, max_read)[0].record.output_flag, value)
                << text;
        }
    }
}

}  // namespace
}  // namespace kerfline::testing
