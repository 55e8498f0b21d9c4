#include "form_reader.h"

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "memory_io.h"

namespace kerfline::testing {
namespace {

using namespace std::string_literals;

// A form's records, and what the read after the last one gave.
struct Reads {
    std::vector<std::tuple<std::string, std::string, std::int32_t>> records;
    FormRead last;
};

Reads read_all(const std::string& form, std::size_t capacity = 64, std::size_t max_read = SIZE_MAX,
               std::size_t fail_at = SIZE_MAX) {
    MemorySource source(form, max_read);
    source.fail_at = fail_at;
    InputBuffer buffer(source, capacity);
    FormRecord record;
    Reads reads;
    while ((reads.last = read_form_record(buffer, record)) == FormRead::record) {
        reads.records.emplace_back(record.marker_line, record.output_name, record.output_flag);
    }
    return reads;
}

// Each form is read through buffers shorter and longer than its lines, in
// reads of one byte, a few and as many as fit, so that line ends, CR LF
// pairs and long lines are split everywhere.
TEST(FormReader, RecordsAreThreeLines) {
    const std::string long_line(100000, 'm');
    const struct {
        std::string form;
        decltype(Reads::records) records;
        FormRead last = FormRead::end;
        std::size_t fail_at = SIZE_MAX;
    } cases[] = {
        {"=== A ===\na.txt\n1\n=== B ===\nb.txt\n0\n",
         {{"=== A ===", "a.txt", 1}, {"=== B ===", "b.txt", 0}}},
        // A trailing record of one or two lines is no record; a flag line
        // needs no line end, and an empty flag is 0.
        {"", {}},
        {"M\n", {}},
        {"M\nname\n", {}},
        {"M\nname", {}},
        {"A\na\n1\nB\nb\n1\nC\n", {{"A", "a", 1}, {"B", "b", 1}}},
        {"A\na\n1", {{"A", "a", 1}}},
        {"A\na\n\n", {{"A", "a", 0}}},
        // Fields keep every byte but the line end, "\n" or "\r\n".
        {" M \r\n out.txt \t\r\n1\r\n\n\0n\x82\xa0\r\r\n2\r"s,
         {{" M ", " out.txt \t", 1}, {"", "\0n\x82\xa0\r"s, 2}}},
        // A line of any length is held whole and never shifts the records.
        {long_line + "\nname\n1\n" + long_line + "\n" + long_line + "\n2\n",
         {{long_line, "name", 1}, {long_line, long_line, 2}}},
        // A failed read is not the end of the form.
        {"A\na\n1\nB\nb\n1\n", {{"A", "a", 1}}, FormRead::failed, 8},
    };
    for (const auto& [form, records, last, fail_at] : cases) {
        for (std::size_t capacity : {4, 16, 64}) {
            for (std::size_t max_read : {std::size_t{1}, std::size_t{7}, SIZE_MAX}) {
                SCOPED_TRACE(::testing::Message() << ::testing::PrintToString(form.substr(0, 40))
                                                  << ", buffer " << capacity << ", reads " << max_read);
                const Reads reads = read_all(form, capacity, max_read, fail_at);
                EXPECT_EQ(reads.records, records);
                EXPECT_EQ(reads.last, last);
            }
        }
    }
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
            const Reads reads = read_all("M\nname\n" + text + "\n", 64, max_read);
            EXPECT_EQ(std::get<2>(reads.records.at(0)), value) << text;
        }
    }
}

}  // namespace
}  // namespace kerfline::testing
