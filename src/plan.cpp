#include "plan.h"

#include <new>

#include "report.h"

namespace kerfline {

namespace {

// What a name stands for, however it is spelled: a file that is there by
// its volume and index, anything else (a file still to be made, a device,
// which on Windows has no index) by where it is.
std::string key_of(std::string_view name, const LookUp& look) {
    if (look.kind == LookUp::Kind::file) {
        std::string key = "i";
        key.append(reinterpret_cast<const char*>(&look.id.volume), sizeof look.id.volume);
        key.append(reinterpret_cast<const char*>(&look.id.index), sizeof look.id.index);
        return key;
    }
    std::string where;
    if (!where_is(name, where)) throw std::bad_alloc();
    std::string key(1, where.empty() ? 'n' : 'p');
    key.append(where.empty() ? name : std::string_view(where));
    return key;
}

}  // namespace

PlannedOutputs::PlannedOutputs(Console& console, const OutputGuard& guard, const File& input,
                               std::string_view input_path)
    : console_(console), guard_(guard), input_(input), input_path_(input_path) {}

bool PlannedOutputs::begin(std::int64_t index, const FormRecord& record, ByteSink*& sink,
                           std::uint64_t*& line_ends) {
    index_ = index;
    record_ = &record;
    refused_.reset();
    named_before_.reset();
    look_ = {};
    counter_ = {};
    // Every section is counted, to know the input's lines.
    sink = &counter_;
    line_ends = &line_ends_;
    const Action action = action_of(record.output_flag);
    if (action == Action::skip) return true;
    look_ = look_up(record.output_name, true);
    if (const Refusal refusal = guard_.refusal_before_open(record.output_name, look_);
        refusal != Refusal::none) {
        refused_ = refusal;
    } else if (look_.error) {
        refused_ = *look_.error;
    }
    if (refused_) {
        if (!stops_at_) {
            stops_at_ = index;
            stops_at_why_ = refused_;
            try {
                stops_at_name_ = record.output_name;
            } catch (const std::bad_alloc&) {
                report_out_of_memory(console_);
                return false;
            }
        }
        return true;
    }
    try {
        const auto [named, first] = named_.try_emplace(
            key_of(record.output_name, look_),
            Named{index, look_.kind, action});
        if (!first) named_before_ = named->second.last_record;
        // What a run that stops at a refused output never does is not counted.
        if (!stops_at_) {
            named->second.last_record = index;
            named->second.last_action = action;
        }
    } catch (const std::bad_alloc&) {
        report_out_of_memory(console_);
        return false;
    }
    return true;
}

bool PlannedOutputs::end(Cut cut) {
    consumed_ += counter_.bytes;
    const Action action = action_of(record_->output_flag);
    if (action == Action::write && !refused_ && !stops_at_) bytes_written_ += counter_.bytes;
    PlanLine line;
    line.index = index_;
    line.name = record_->output_name;
    line.action = action;
    line.section_bytes = counter_.bytes;
    if (cut == Cut::marker_found) line.marker_line = line_ends_;
    line.cannot_open = refused_ ? &*refused_ : nullptr;
    line.named_before = named_before_;
    line.kind = look_.kind;
    line.present_size = look_.id.size;
    report_plan_line(console_, line);
    return true;
}

int PlannedOutputs::finish(InputBuffer& rest) {
    // A file's rest is its size past what was read; anything else is read.
    std::uint64_t unread = rest.size();
    if (input_.on_disk()) {
        unread = input_.id().size > consumed_ ? input_.id().size - consumed_ : 0;
    } else {
        for (;;) {
            rest.consume(rest.size());
            const Fill fill = rest.fill();
            if (fill == Fill::failed) {
                report_failure(console_, Text::cannot_read, input_path_, input_.error());
                return exit_failed;
            }
            if (fill == Fill::end) break;
            unread += rest.size();
        }
    }
    report_plan_rest(console_, unread);
    PlanSummary summary;
    summary.bytes_written = bytes_written_;
    summary.stops_at = stops_at_;
    // Files, not devices or FIFOs, that a run reaches.
    for (const auto& [key, named] : named_) {
        if (named.last_record > stops_at_.value_or(named.last_record)) continue;
        if (named.was == LookUp::Kind::missing) {
            ++summary.created;
        } else if (named.was == LookUp::Kind::file) {
            ++(named.last_action == Action::write ? summary.replaced : summary.emptied);
        }
    }
    report_plan_summary(console_, summary);
    if (!stops_at_) return exit_complete;
    // Where a run stops, in the words it would use.
    report_reason(console_, stops_at_name_, *stops_at_why_);
    return exit_failed;
}

}  // namespace kerfline
