#include "driver.h"

#include <cstdint>
#include <string_view>

#include "form_reader.h"
#include "input_buffer.h"
#include "output_guard.h"
#include "outputs.h"
#include "plan.h"
#include "platform.h"
#include "report.h"
#include "screen.h"
#include "section_copier.h"

namespace kerfline {

namespace {

// A file with the report written out before each read of it: a log keeps
// up with the run, also while the form or the input stalls, and a run
// stopped at any moment leaves the report of every record it had begun.
// That costs at most one write per buffer read. The input's reads move
// the progress line on.
class ReportedSource final : public ByteSource {
public:
    ReportedSource(File& file, Console& console, Progress* progress = nullptr)
        : file_(file), console_(console), progress_(progress) {}

    ReadResult read(char* into, std::size_t capacity) override {
        console_.flush();
        const ReadResult got = file_.read(into, capacity);
        if (progress_ != nullptr) progress_->read(got.count);
        return got;
    }

private:
    File& file_;
    Console& console_;
    Progress* progress_;
};

bool open_reported(Console& console, std::string_view path, const OutputGuard& guard,
                   File& file) {
    // The open of a FIFO waits for its writer: the report goes out first.
    console.flush();
    Failure why = Refusal::none;
    if (!File::open_for_reading(path, file)) {
        why = file.error();
    } else if (const Refusal refusal = guard.refusal_to_read(file, path); refusal != Refusal::none) {
        file.close();
        why = refusal;
    } else {
        report_opened(console, path);
        return true;
    }
    report_failure(console, Text::cannot_open, path, why);
    return false;
}

// Opens an output through the guard and empties it, with stops held off
// until it is reported: a file the run creates or empties has its report
// before a stop ends the run. An open that would wait for another program
// (a FIFO without a reader) waits with stops let in, once the report has
// gone out: until it returns it creates and empties nothing.
bool open_output(Console& console, const OutputGuard& guard, std::string_view path, File& file) {
    Failure why = Refusal::none;
    console.hold_stops();
    bool opened = guard.open_output(path, false, file, why);
    if (!opened && why.refusal == Refusal::none &&
        why.error.kind == FileError::Kind::would_wait) {
        console.let_stops_in();
        console.flush();
        opened = guard.open_output(path, true, file, why);
        console.hold_stops();
    }
    if (opened && !file.truncate()) {
        opened = false;
        why = file.error();
    }
    if (opened) {
        report_opened(console, path);
    } else {
        report_failure(console, Text::cannot_open, path, why);
    }
    console.let_stops_in();
    return opened;
}

// A run's outputs: each record's block reported, its output opened through
// the guard and emptied, its section written; one output at a time.
class RunOutputs final : public Outputs {
public:
    RunOutputs(Console& console, const OutputGuard& guard) : console_(console), guard_(guard) {}

    bool begin(std::int64_t index, const FormRecord& record, ByteSink*& sink,
               std::uint64_t*&) override {
        report_record(console_, index, record);
        name_ = record.output_name;
        const Action action = action_of(record.output_flag);
        if (action != Action::skip && !open_output(console_, guard_, name_, output_)) return false;
        sink = action == Action::write ? &output_ : nullptr;
        // A reader of a pipe, a terminal or a device sees the section at
        // once, and may stall the run in it: the report comes first.
        if (sink != nullptr && !output_.on_disk()) console_.flush();
        return true;
    }

    bool end(Cut cut) override {
        if (cut != Cut::write_failed && output_.close()) return true;
        report_failure(console_, Text::cannot_write, name_, output_.error());
        return false;
    }

    // What follows the last section is read by no one.
    int finish(InputBuffer&) override { return exit_complete; }

private:
    Console& console_;
    const OutputGuard& guard_;
    File output_;
    std::string_view name_;
};

// The walk over the form, record by record, each record's section cut off
// the input and handed to what `dry_run` chooses: a run's outputs, or a
// dry run's plan.
int split(Console& console, std::string_view form_path, std::string_view input_path,
          bool dry_run, const BufferCapacities& capacities) {
    Progress progress(console);
    OutputGuard guard;
    File form_file;
    if (!open_reported(console, form_path, guard, form_file)) return exit_failed;
    File input_file;
    if (!open_reported(console, input_path, guard, input_file)) return exit_failed;
    if (input_file.on_disk()) progress.input_size(input_file.id().size);

    ReportedSource reported_form(form_file, console);
    ReportedSource reported_input(input_file, console, &progress);
    InputBuffer form(reported_form, capacities.form);
    InputBuffer input(reported_input, capacities.input);
    if (!form.allocated() || !input.allocated() || !guard.protect(form_file, input_file)) {
        report_out_of_memory(console);
        return exit_failed;
    }
    RunOutputs run(console, guard);
    PlannedOutputs plan(console, guard, input_file, input_path);
    Outputs& outputs = dry_run ? static_cast<Outputs&>(plan) : run;
    FormRecord record;
    for (std::int64_t section_index = 0;; ++section_index) {
        switch (read_form_record(form, record)) {
            case FormRead::record: break;
            case FormRead::end: return outputs.finish(input);
            case FormRead::failed:
                report_failure(console, Text::cannot_read, form_path, form_file.error());
                return exit_failed;
            case FormRead::line_too_long:
                report_failure(console, Text::cannot_read, form_path, Refusal::form_line_too_long);
                return exit_failed;
        }
        progress.record(section_index);
        ByteSink* sink = nullptr;
        std::uint64_t* line_ends = nullptr;
        if (!outputs.begin(section_index, record, sink, line_ends)) return exit_failed;
        const Cut cut = cut_section(input, record.marker_line, sink, line_ends);
        if (cut == Cut::read_failed) {
            report_failure(console, Text::cannot_read, input_path, input_file.error());
            return exit_failed;
        }
        if (!outputs.end(cut)) return exit_failed;
    }
}

}  // namespace

int run_driver(const CommandLine& command_line, const BufferCapacities& capacities) {
    prepare_process();
    Console console(screen_of(StandardStream::output), screen_of(StandardStream::error));
    on_stop(&Console::stop_from_outside);
    // Two arguments are a run; "-n" or "--dry-run" before them, a dry run.
    const std::string_view option = command_line.count == 4 ? command_line.arguments[1] : "";
    const bool dry_run = option == "-n" || option == "--dry-run";
    if (command_line.count != 3 && !dry_run) {
        report_usage(console);
        return exit_complete;
    }
    const int form_index = dry_run ? 2 : 1;
    report_banner(console);
    // A name that means another file is refused before any file is opened.
    for (const int index : {form_index, form_index + 1}) {
        if (!command_line.is_exact(index)) {
            report_failure(console, Text::cannot_open, command_line.arguments[index],
                           FileError{FileError::Kind::name_outside_code_page, 0,
                                     command_line.code_page});
            return exit_failed;
        }
    }
    return split(console, command_line.arguments[form_index], command_line.arguments[form_index + 1],
                 dry_run, capacities);
}

}  // namespace kerfline
