#include "model.h"

#include <climits>

namespace kerfline::testing {

std::vector<ModelLine> model_lines(const std::string& bytes) {
    std::vector<ModelLine> lines;
    std::string current;
    for (char c : bytes) {
        current += c;
        if (c != '\n') continue;
        std::string text = current.substr(0, current.size() - 1);
        if (!text.empty() && text.back() == '\r') text.pop_back();
        lines.push_back({current, text, true});
        current.clear();
    }
    if (!current.empty()) lines.push_back({current, current, false});
    return lines;
}

std::vector<std::string> model_sections(const std::string& input,
                                        const std::vector<std::string>& markers) {
    const std::vector<ModelLine> lines = model_lines(input);
    std::vector<std::string> sections;
    std::size_t next = 0;
    for (const std::string& marker : markers) {
        std::string section;
        while (next < lines.size()) {
            const ModelLine& line = lines[next++];
            section += line.bytes;
            if (line.ended && line.text == marker) break;
        }
        sections.push_back(section);
    }
    return sections;
}

long long model_flag(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::string(" \t\n\v\f\r").find(text[at]) != std::string::npos) ++at;
    long long sign = 1;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) sign = text[at++] == '-' ? -1 : 1;
    long long value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = value * 10 + (text[at++] - '0');
        if (value > 1LL << 40) value = 1LL << 40;
    }
    value *= sign;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return value;
}

const std::string banner_text = "\x81\x79kerfline start\x81\x7a\n";

std::string opened_text(const std::string& path) { return path + " open\n"; }

std::string cannot_open_text(const std::string& path) {
    return "[" + path + "]\x82\xaa\x8a\x4a\x82\xaf\x82\xdc\x82\xb9\x82\xf1\n";
}

std::string cannot_read_text(const std::string& path) {
    return "[" + path + "]\x82\xaa\x93\xc7\x82\xdf\x82\xdc\x82\xb9\x82\xf1\n";
}

std::string cannot_write_text(const std::string& path) {
    return "[" + path + "]\x82\xc9\x8f\x91\x82\xab\x8d\x9e\x82\xdf\x82\xdc\x82\xb9\x82\xf1\n";
}

std::string block_text(long long index, const std::string& marker, const std::string& name,
                       long long flag) {
    const std::string number = std::to_string(index);
    const std::string colon = "\x81\x46";
    std::string block = "#####" + number + "#####\n";
    block += number + colon + marker + "\n";
    block += number + colon + name + "\n";
    block += number + colon + std::to_string(flag) + "\n";
    for (int i = 0; i < 10; ++i) block += "\x81\xab";
    return block + "\n";
}

ModelRun model_run(const std::string& form, const std::string& input, const std::string& form_name,
                   const std::string& input_name) {
    ModelRun run;
    run.console = banner_text + opened_text(form_name) + opened_text(input_name);
    const std::vector<ModelLine> form_lines = model_lines(form);
    const std::size_t records = form_lines.size() / 3;
    std::vector<std::string> markers;
    for (std::size_t record = 0; record < records; ++record) markers.push_back(form_lines[record * 3].text);
    const std::vector<std::string> sections = model_sections(input, markers);
    for (std::size_t record = 0; record < records; ++record) {
        const std::string& name = form_lines[record * 3 + 1].text;
        const long long flag = model_flag(form_lines[record * 3 + 2].text);
        run.console += block_text(static_cast<long long>(record), markers[record], name, flag);
        if (flag == 0) continue;
        if (name.empty() || name.find('\0') != std::string::npos || name == form_name ||
            name == input_name) {
            run.console += cannot_open_text(name);
            run.status = 1;
            return run;
        }
        run.console += opened_text(name);
        run.outputs[name] = flag == 1 ? sections[record] : "";
    }
    return run;
}

}  // namespace kerfline::testing
