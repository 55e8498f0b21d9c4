// The report on standard output: every fixed text of the tool, and the
// blocks and messages built from them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "console.h"
#include "error_line.h"
#include "form_reader.h"
#include "platform.h"

namespace kerfline {

enum class Text {
    usage_credit,
    usage_synopsis,
    usage_purpose,
    usage_form_contents,
    usage_form_marker,
    usage_form_name,
    usage_form_flag,
    banner,
    opened,        // after the path
    left_bracket,  // before the path of every failure
    cannot_open,
    cannot_read,
    cannot_write,
    fence,
    fence_end,
    colon,
    newline,
    arrows,
    // A dry run's plan.
    plan_separator,
    plan_write,
    plan_bytes,
    plan_to_line,
    plan_not_found,
    plan_skip,
    plan_empty,
    plan_cannot_open,
    plan_replaces,
    plan_replaces_record,
    plan_empties_record,
    plan_records_file,
    plan_fifo,
    plan_character_device,
    plan_block_device,
    plan_socket,
    plan_not_a_file,
    plan_rest,
    plan_rest_end,
    plan_summary,
    plan_created,
    plan_replaced,
    plan_emptied,
    plan_stops_at,
    plan_status_1,
};

struct FixedText {
    Text id;
    std::string_view shift_jis;  // what scripts and logs always see
    std::string_view utf8;       // the same words, for a UTF-8 terminal
};

std::span<const FixedText> fixed_texts();

void report_usage(Console& console);
void report_banner(Console& console);
void report_record(Console& console, std::int64_t section_index, const FormRecord& record);
void report_opened(Console& console, std::string_view path);

// A line of a dry run's plan: record `index`, its output `name` and what a
// run would do to it, and what is worth knowing first.
struct PlanLine {
    std::int64_t index = 0;
    std::string_view name;
    Action action = Action::skip;
    std::uint64_t section_bytes = 0;
    std::optional<std::uint64_t> marker_line;  // the input's line the section ends with
    const Failure* cannot_open = nullptr;      // why a run could not open it
    std::optional<std::int64_t> named_before;  // the last earlier record to name the file
    LookUp::Kind kind = LookUp::Kind::missing;  // what is there now
    std::uint64_t present_size = 0;             // of the file there now
};
void report_plan_line(Console& console, const PlanLine& line);
// The bytes of the input that no record reads.
void report_plan_rest(Console& console, std::uint64_t bytes);
struct PlanSummary {
    std::uint64_t created = 0, replaced = 0, emptied = 0, bytes_written = 0;
    std::optional<std::int64_t> stops_at;  // the record whose output a run refuses
};
void report_plan_summary(Console& console, const PlanSummary& summary);

// "[path]" followed by `error` on the console, for scripts that read it,
// and the reason on standard error: "kerfline: path: reason".
void report_failure(Console& console, Text error, std::string_view path, const Failure& why);
// The reason alone, after what the console holds.
void report_reason(Console& console, std::string_view path, const Failure& why);
// What is left to say when memory runs out where no file is to blame.
void report_out_of_memory(Console& console);

}  // namespace kerfline
