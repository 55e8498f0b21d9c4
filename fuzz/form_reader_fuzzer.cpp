// The form reader on arbitrary bytes, through buffers and reads of every
// small size and with a read that fails part way, checked against the test
// suite's model of lines.
//
// Input: a byte for the buffer's capacity, one for the largest read, one for
// the byte at which reading fails (below 128: never), then the form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "form_reader.h"
#include "memory_io.h"
#include "model.h"

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "the reader disagrees with the model: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kerfline;
    if (size < 3) return 0;
    const std::size_t capacity = data[0] < 192 ? 1 + data[0] % 64 : InputBuffer::default_capacity;
    const std::size_t max_read = data[1] < 128 ? 1 + data[1] % 16 : SIZE_MAX;
    const std::size_t fail_at = data[2] < 128 ? SIZE_MAX : data[2] - 128u;
    const std::string form(reinterpret_cast<const char*>(data) + 3, size - 3);

    testing::MemorySource source(form, max_read, data[1]);
    source.fail_at = fail_at;
    InputBuffer buffer(source, capacity);

    // A failing read ends the form where it strikes; a line cut there was
    // never whole.
    const bool fails = fail_at <= form.size();
    std::vector<testing::ModelLine> lines = testing::model_lines(form.substr(0, fails ? fail_at : form.size()));
    if (fails && !lines.empty() && !lines.back().ended) lines.pop_back();

    FormRecord record;
    for (std::size_t at = 0; at + 3 <= lines.size(); at += 3) {
        require(read_form_record(buffer, record) == FormRead::record, "a whole record");
        require(record.marker_line == lines[at].text, "marker line");
        require(record.output_name == lines[at + 1].text, "output name");
        require(record.output_flag == testing::model_flag(lines[at + 2].text), "flag");
    }
    const FormRead last = read_form_record(buffer, record);
    require(last == (fails ? FormRead::failed : FormRead::end), "how the form ends");
    require(read_form_record(buffer, record) == last, "the end stays the end");
    return 0;
}
