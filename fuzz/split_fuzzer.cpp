// The whole run on an arbitrary form and input held in memory, checked byte
// for byte against the test suite's model: report, status and every file.
//
// Input: one byte for the largest read (0: no limit), two bytes (little
// endian) for the form's length, the form, then the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver.h"
#include "memory_system_calls.h"
#include "model.h"

namespace {

void print_escaped(const char* label, const std::string& bytes) {
    std::fprintf(stderr, "%s: \"", label);
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
            std::fputc(c, stderr);
        } else {
            std::fprintf(stderr, "\\x%02x", c);
        }
    }
    std::fprintf(stderr, "\"\n");
}

// Stops the fuzzer where the run and the model part, showing both.
void require(bool holds, const char* what, const std::string& run = "", const std::string& model = "") {
    if (holds) return;
    std::fprintf(stderr, "the run disagrees with the model: %s\n", what);
    if (run != model) {
        print_escaped("run", run);
        print_escaped("model", model);
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kerfline;
    if (size < 3) return 0;
    const std::size_t read_limit = data[0] == 0 ? SIZE_MAX : data[0];
    const std::size_t form_size = std::min<std::size_t>(data[1] | data[2] << 8, size - 3);
    const char* bytes = reinterpret_cast<const char*>(data) + 3;
    const std::string form(bytes, form_size);
    const std::string input(bytes + form_size, size - 3 - form_size);

    fuzzing::reset_memory_files({{"form", form}, {"input", input}}, read_limit);
    const char* argv[] = {"kerfline", "form", "input"};
    const int status = run_driver({3, argv});

    const testing::ModelRun expected = testing::model_run(form, input);
    require(fuzzing::memory_console() == expected.console, "report", fuzzing::memory_console(),
            expected.console);
    require(status == expected.status, "exit status");
    std::map<std::string, std::string> files = expected.outputs;
    files["form"] = form;
    files["input"] = input;
    require(fuzzing::memory_files() == files, "files");
    require(fuzzing::memory_open_count() == 0, "every file closed");
    return 0;
}
