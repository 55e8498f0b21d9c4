#include "driver.h"

#include <cstdint>
#include <string_view>

#include "form_reader.h"
#include "input_buffer.h"
#include "output_guard.h"
#include "platform.h"
#include "report.h"
#include "screen.h"
#include "section_copier.h"

namespace kerfline {

namespace {

constexpr int exit_complete = 0;
constexpr int exit_failed = 1;

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

int split(Console& console, std::string_view form_path, std::string_view input_path,
          const BufferCapacities& capacities) {
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
    FormRecord record;
    for (std::int64_t section_index = 0;; ++section_index) {
        switch (read_form_record(form, record)) {
            case FormRead::record: break;
            case FormRead::end: return exit_complete;
            case FormRead::failed:
                report_failure(console, Text::cannot_read, form_path, form_file.error());
                return exit_failed;
            case FormRead::line_too_long:
                report_failure(console, Text::cannot_read, form_path, Refusal::form_line_too_long);
                return exit_failed;
        }
        report_record(console, section_index, record);
        progress.record(section_index);

        // Flag 0 skips the section, 1 writes it to the record's file, any
        // other value leaves that file empty.
        File output;
        if (record.output_flag != 0) {
            if (!open_output(console, guard, record.output_name, output)) return exit_failed;
        }
        ByteSink* sink = record.output_flag == 1 ? &output : nullptr;
        // A reader of a pipe, a terminal or a device sees the section at
        // once, and may stall the run in it: the report comes first.
        if (sink != nullptr && !output.on_disk()) console.flush();
        switch (cut_section(input, record.marker_line, sink)) {
            case Cut::done:
                if (output.close()) continue;
                break;
            case Cut::read_failed:
                report_failure(console, Text::cannot_read, input_path, input_file.error());
                return exit_failed;
            case Cut::write_failed: break;
        }
        report_failure(console, Text::cannot_write, record.output_name, output.error());
        return exit_failed;
    }
}

}  // namespace

int run_driver(const CommandLine& command_line, const BufferCapacities& capacities) {
    prepare_process();
    Console console(screen_of(StandardStream::output), screen_of(StandardStream::error));
    on_stop(&Console::stop_from_outside);
    if (command_line.count != 3) {
        report_usage(console);
        return exit_complete;
    }
    report_banner(console);
    // A name that means another file is refused before any file is opened.
    for (const int index : {1, 2}) {
        if (!command_line.is_exact(index)) {
            report_failure(console, Text::cannot_open, command_line.arguments[index],
                           FileError{FileError::Kind::name_outside_code_page, 0,
                                     command_line.code_page});
            return exit_failed;
        }
    }
    return split(console, command_line.arguments[1], command_line.arguments[2], capacities);
}

}  // namespace kerfline
