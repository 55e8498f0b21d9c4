#include "report.h"

#include <algorithm>
#include <charconv>

#include "error_line.h"
#include "form_reader.h"

#ifndef KERFLINE_VERSION
#define KERFLINE_VERSION "unknown"
#endif

namespace kerfline {

namespace {

constexpr FixedText table[] = {
    {Text::usage_credit, "kerfline " KERFLINE_VERSION " by the kerfline developers\n",
     "kerfline " KERFLINE_VERSION " by the kerfline developers\n"},
    {Text::usage_synopsis, "kerfline form_file input_file\n", "kerfline form_file input_file\n"},
    {Text::usage_purpose,
     "    form\x82\xc9\x82\xb5\x82\xbd\x82\xaa\x82\xc1\x82\xc4\x93\xfc\x97\xcd\x83\x74\x83\x40"
     "\x83\x43\x83\x8b\x82\xf0\x95\xaa\x8a\x84\x82\xb5\x82\xc4\x8f\x6f\x97\xcd\x82\xb7\x82\xe9"
     "\x83\x63\x81\x5b\x83\x8b\n",
     "    formにしたがって入力ファイルを分割して出力するツール\n"},
    {Text::usage_form_contents, "    form\x93\xe0\x97\x65\n", "    form内容\n"},
    {Text::usage_form_marker,
     "    form\x81\x46\x95\xaa\x8a\x84\x82\xcc\x90\xdf\x96\xda\x82\xc9\x82\xb7\x82\xe9\x8d\x73"
     "\x83\x81\x83\x62\x83\x5a\x81\x5b\x83\x57\n",
     "    form：分割の節目にする行メッセージ\n"},
    {Text::usage_form_name,
     "    form\x81\x46\x8f\x6f\x97\xcd\x82\xb7\x82\xe9\x83\x74\x83\x40\x83\x43\x83\x8b\x96\xbc\n",
     "    form：出力するファイル名\n"},
    {Text::usage_form_flag,
     "    form\x81\x46\x82\x50\x81\x69\x8f\x6f\x97\xcd\x82\xb7\x82\xe9\x81\x6a\x81\x40\x82\x4f"
     "\x81\x69\x8f\x6f\x97\xcd\x82\xb5\x82\xc8\x82\xa2\x81\x6a\n",
     "    form：１（出力する）　０（出力しない）\n"},
    {Text::banner, "\x81\x79kerfline start\x81\x7a\n", "【kerfline start】\n"},
    {Text::opened, " open\n", " open\n"},
    {Text::left_bracket, "[", "["},
    {Text::cannot_open, "]\x82\xaa\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1\n", "]が開けません\n"},
    {Text::cannot_read, "]\x82\xaa\x93\xc7\x82\xdf\x82\xdc\x82\xb9\x82\xf1\n", "]が読めません\n"},
    {Text::cannot_write, "]\x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1\n",
     "]に書き込めません\n"},
    {Text::fence, "#####", "#####"},
    {Text::fence_end, "#####\n", "#####\n"},
    {Text::colon, "\x81\x46", "："},
    {Text::newline, "\n", "\n"},
    {Text::arrows, "\x81\xab\x81\xab\x81\xab\x81\xab\x81\xab\x81\xab\x81\xab\x81\xab\x81\xab\x81\xab\n",
     "↓↓↓↓↓↓↓↓↓↓\n"},
    {Text::plan_separator, ": ", ": "},
    {Text::plan_write, "write ", "write "},
    {Text::plan_bytes, " bytes", " bytes"},
    {Text::plan_to_line, ", to line ", ", to line "},
    {Text::plan_not_found, ", marker not found", ", marker not found"},
    {Text::plan_skip, "skip", "skip"},
    {Text::plan_empty, "empty", "empty"},
    {Text::plan_cannot_open, "cannot open: ", "cannot open: "},
    {Text::plan_replaces, "; replaces ", "; replaces "},
    {Text::plan_replaces_record, "; replaces record ", "; replaces record "},
    {Text::plan_empties_record, "; empties record ", "; empties record "},
    {Text::plan_records_file, "'s file", "'s file"},
    {Text::plan_fifo, "; a FIFO", "; a FIFO"},
    {Text::plan_character_device, "; a character device", "; a character device"},
    {Text::plan_block_device, "; a block device", "; a block device"},
    {Text::plan_socket, "; a socket", "; a socket"},
    {Text::plan_not_a_file, "; not a file", "; not a file"},
    {Text::plan_rest, "rest: ", "rest: "},
    {Text::plan_rest_end, " bytes read by no record\n", " bytes read by no record\n"},
    {Text::plan_summary, "plan: files created ", "plan: files created "},
    {Text::plan_created, ", replaced ", ", replaced "},
    {Text::plan_replaced, ", emptied ", ", emptied "},
    {Text::plan_emptied, "; bytes written ", "; bytes written "},
    {Text::plan_stops_at, "; a run stops at record ", "; a run stops at record "},
    {Text::plan_status_1, ", status 1", ", status 1"},
};

constexpr bool table_in_order() {
    for (std::size_t i = 0; i < std::size(table); ++i) {
        if (table[i].id != static_cast<Text>(i)) return false;
    }
    return true;
}
static_assert(table_in_order(), "the table is indexed by Text");

}  // namespace

std::span<const FixedText> fixed_texts() { return table; }

namespace {

void put(Console& console, Text text) {
    const FixedText& entry = table[static_cast<std::size_t>(text)];
    console.put(console.utf8() ? entry.utf8 : entry.shift_jis);
}

struct Decimal {
    explicit Decimal(std::int64_t number) {
        const char* past = std::to_chars(digits, std::end(digits), number).ptr;
        length = static_cast<std::size_t>(past - digits);
    }
    std::string_view text() const { return {digits, length}; }

    char digits[24];
    std::size_t length;
};

}  // namespace

void report_usage(Console& console) {
    for (Text line : {Text::usage_credit, Text::usage_synopsis, Text::usage_purpose,
                      Text::usage_form_contents, Text::usage_form_marker, Text::usage_form_name,
                      Text::usage_form_flag}) {
        put(console, line);
    }
    console.message_done();
}

void report_banner(Console& console) {
    put(console, Text::banner);
    console.message_done();
}

void report_record(Console& console, std::int64_t section_index, const FormRecord& record) {
    // Written out once for the block's four uses: a split into many small
    // sections spends much of its own time here.
    const Decimal index(section_index);
    put(console, Text::fence);
    console.put(index.text());
    put(console, Text::fence_end);
    auto field = [&](std::string_view value, bool echoed) {
        console.put(index.text());
        put(console, Text::colon);
        echoed ? console.put_echoed(value) : console.put(value);
        put(console, Text::newline);
    };
    field(record.marker_line, true);
    field(record.output_name, true);
    field(Decimal(record.output_flag).text(), false);
    put(console, Text::arrows);
    console.message_done();
}

void report_opened(Console& console, std::string_view path) {
    console.put_echoed(path);
    put(console, Text::opened);
    console.message_done();
}

void report_plan_line(Console& console, const PlanLine& line) {
    console.put(Decimal(line.index).text());
    put(console, Text::plan_separator);
    console.put_echoed(line.name);
    put(console, Text::plan_separator);
    const auto number = [&](std::uint64_t value) {
        console.put(Decimal(static_cast<std::int64_t>(value)).text());
    };
    if (line.cannot_open != nullptr) {
        put(console, Text::plan_cannot_open);
        char words[512];
        console.put_echoed(reason_words(*line.cannot_open, words));
        put(console, Text::newline);
        console.message_done();
        return;
    }
    switch (line.action) {
        case Action::write:
            put(console, Text::plan_write);
            number(line.section_bytes);
            put(console, Text::plan_bytes);
            break;
        case Action::skip: put(console, Text::plan_skip); break;
        case Action::empty: put(console, Text::plan_empty); break;
    }
    if (line.marker_line && line.action == Action::write) {
        put(console, Text::plan_to_line);
        number(*line.marker_line);
    } else if (!line.marker_line) {
        put(console, Text::plan_not_found);
    }
    if (line.named_before && line.action != Action::skip) {
        put(console, line.action == Action::write ? Text::plan_replaces_record : Text::plan_empties_record);
        console.put(Decimal(*line.named_before).text());
        put(console, Text::plan_records_file);
    } else if (line.action != Action::skip) {
        using enum LookUp::Kind;
        switch (line.kind) {
            case missing: break;
            case file:
                put(console, Text::plan_replaces);
                number(line.present_size);
                put(console, Text::plan_bytes);
                break;
            case fifo: put(console, Text::plan_fifo); break;
            case character_device: put(console, Text::plan_character_device); break;
            case block_device: put(console, Text::plan_block_device); break;
            case socket: put(console, Text::plan_socket); break;
            case directory:
            case other: put(console, Text::plan_not_a_file); break;
        }
    }
    put(console, Text::newline);
    console.message_done();
}

void report_plan_rest(Console& console, std::uint64_t bytes) {
    put(console, Text::plan_rest);
    console.put(Decimal(static_cast<std::int64_t>(bytes)).text());
    put(console, Text::plan_rest_end);
    console.message_done();
}

void report_plan_summary(Console& console, const PlanSummary& summary) {
    const auto number = [&](std::uint64_t value) {
        console.put(Decimal(static_cast<std::int64_t>(value)).text());
    };
    put(console, Text::plan_summary);
    number(summary.created);
    put(console, Text::plan_created);
    number(summary.replaced);
    put(console, Text::plan_replaced);
    number(summary.emptied);
    put(console, Text::plan_emptied);
    number(summary.bytes_written);
    if (summary.stops_at) {
        put(console, Text::plan_stops_at);
        console.put(Decimal(*summary.stops_at).text());
        put(console, Text::plan_status_1);
    }
    put(console, Text::newline);
    console.message_done();
}

void report_failure(Console& console, Text error, std::string_view path, const Failure& why) {
    put(console, Text::left_bracket);
    console.put_echoed(path);
    put(console, error);
    report_reason(console, path, why);
}

void report_reason(Console& console, std::string_view path, const Failure& why) {
    // The report goes out before the reason on standard error, screen or
    // not: the two may go to one file.
    console.flush();
    console.take_away_progress();
    write_reason(path, why);
}

void report_out_of_memory(Console& console) {
    console.flush();
    console.take_away_progress();
    write_out_of_memory();
}

}  // namespace kerfline
