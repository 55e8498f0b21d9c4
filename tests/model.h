// A deliberately plain model of the tool, written from what the tool
// promises rather than from how it is built: whole strings, line by line.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kerfline::testing {

struct ModelLine {
    std::string bytes;  // as in the file, line end included
    std::string text;   // "\n" or "\r\n" removed
    bool ended;         // it has a "\n"
};

std::vector<ModelLine> model_lines(const std::string& bytes);

// Input bytes of each section, one marker per section, in order.
std::vector<std::string> model_sections(const std::string& input,
                                        const std::vector<std::string>& markers);

// The flag as atoi reads it, held to the 32-bit range.
long long model_flag(const std::string& text);

// The report's pieces, in Shift_JIS.
extern const std::string banner_text;
std::string opened_text(const std::string& path);
std::string cannot_open_text(const std::string& path);
std::string cannot_read_text(const std::string& path);
std::string cannot_write_text(const std::string& path);
std::string block_text(long long index, const std::string& marker, const std::string& name,
                       long long flag);

struct ModelRun {
    std::string console;  // standard output in Shift_JIS, "\n" line ends
    int status = 0;
    std::map<std::string, std::string> outputs;  // every file the run creates
};

// The run over files named `form_name` and `input_name`, both readable.
// Output names must be plain file names; an empty name, one holding NUL and
// one naming the form or the input cannot be opened.
ModelRun model_run(const std::string& form, const std::string& input,
                   const std::string& form_name = "form", const std::string& input_name = "input");

}  // namespace kerfline::testing
