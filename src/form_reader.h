// The form: three lines a record (marker line, output name, flag), read one
// record at a time so that a form of any length takes constant memory.
#pragma once

#include <cstdint>
#include <string_view>

#include "input_buffer.h"

namespace kerfline {

// The text of one form line, its line end removed, followed by a NUL so
// that a name reaches the system without a copy. It grows by realloc, which
// remaps a large block where the C library can rather than copy it, so a
// long line costs its own length once, not twice.
class LineBytes {
public:
    LineBytes() = default;
    LineBytes(const LineBytes&) = delete;
    LineBytes& operator=(const LineBytes&) = delete;
    ~LineBytes();

    std::string_view view() const { return {bytes_ != nullptr ? bytes_ : "", size_}; }
    operator std::string_view() const { return view(); }
    friend bool operator==(const LineBytes& line, std::string_view text) {
        return line.view() == text;
    }

    // False when memory runs out; the bytes so far stay.
    bool append(const char* bytes, std::size_t count);
    void drop_last() { bytes_[--size_] = '\0'; }
    // Empties the line, giving back the memory of a long one.
    void clear();

private:
    char* bytes_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

struct FormRecord {
    LineBytes marker_line;
    LineBytes output_name;
    std::int32_t output_flag = 0;
};

// What a record's flag asks of its output: 1 writes the section to it, 0
// skips the section and makes no file, any other value leaves the file
// empty.
enum class Action { write, skip, empty };
constexpr Action action_of(std::int32_t flag) {
    return flag == 1 ? Action::write : flag == 0 ? Action::skip : Action::empty;
}

enum class FormRead { record, end, failed, line_too_long };

// Reads the next three lines into `record`, giving back first what a long
// line of the last record held. A trailing record of one or two lines is
// no record.
FormRead read_form_record(InputBuffer& form, FormRecord& record);

}  // namespace kerfline
