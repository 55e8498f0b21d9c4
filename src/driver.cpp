#include "driver.h"

#include <cstdint>
#include <string_view>

#include "form_reader.h"
#include "input_buffer.h"
#include "platform.h"
#include "report.h"
#include "section_copier.h"

namespace kerfline {

namespace {

constexpr int exit_complete = 0;
constexpr int exit_failed = 1;

constexpr std::size_t form_buffer_capacity = 64 * 1024;

// The input, with the report written out before each read of it: a log
// keeps up with the run, also while the input stalls, and a run stopped at
// any moment leaves the report of every record it had begun. That costs at
// most one write per buffer of input.
class ReportedInput final : public ByteSource {
public:
    ReportedInput(File& file, Console& console) : file_(file), console_(console) {}

    ReadResult read(char* into, std::size_t capacity) override {
        console_.flush();
        return file_.read(into, capacity);
    }

private:
    File& file_;
    Console& console_;
};

int split(Console& console, std::string_view form_path, std::string_view input_path) {
    File form_file;
    if (!open_reported(console, form_path, form_file)) return exit_failed;
    File input_file;
    if (!open_reported(console, input_path, input_file)) return exit_failed;
    const FileId guarded[] = {form_file.id(), input_file.id()};  // in the order of Guarded

    InputBuffer form(form_file, form_buffer_capacity);
    ReportedInput reported_input(input_file, console);
    InputBuffer input(reported_input);
    form_record record;
    for (std::int64_t section_index = 0;; ++section_index) {
        switch (read_form_record(form, record)) {
            case FormRead::record: break;
            case FormRead::end: return exit_complete;
            case FormRead::failed:
                report_failure(console, Text::cannot_read, form_path, form_file.error());
                return exit_failed;
            case FormRead::line_too_long:
                report_failure(console, Text::cannot_read, form_path,
                               Text::reason_form_line_too_long);
                return exit_failed;
        }
        report_record(console, section_index, record);
        switch (copy_section(input, record, console, guarded)) {
            case SectionResult::done: break;
            case SectionResult::output_failed: return exit_failed;
            case SectionResult::input_unreadable:
                report_failure(console, Text::cannot_read, input_path, input_file.error());
                return exit_failed;
        }
    }
}

}  // namespace

int run_driver(int argc, const char* const* argv) {
    prepare_process();
    Console console(console_prefers_utf8(), console_is_interactive());
    if (argc != 3) {
        report_usage(console);
        return exit_complete;
    }
    report_banner(console);
    return split(console, argv[1], argv[2]);
}

}  // namespace kerfline
