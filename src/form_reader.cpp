#include "form_reader.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace kerfline {

namespace {

// A line no longer than this keeps its memory for the next record's.
constexpr std::size_t kept_capacity = 64 * 1024;

}  // namespace

LineBytes::~LineBytes() { std::free(bytes_); }

bool LineBytes::append(const char* bytes, std::size_t count) {
    if (count >= capacity_ - size_) {  // room for the bytes and the NUL
        std::size_t capacity = std::max<std::size_t>(capacity_, 64);
        while (capacity - size_ <= count) {
            if (capacity > SIZE_MAX / 2) return false;
            capacity *= 2;
        }
        char* grown = static_cast<char*>(std::realloc(bytes_, capacity));
        if (grown == nullptr) return false;
        bytes_ = grown;
        capacity_ = capacity;
    }
    std::memcpy(bytes_ + size_, bytes, count);
    size_ += count;
    bytes_[size_] = '\0';
    return true;
}

void LineBytes::clear() {
    size_ = 0;
    if (capacity_ > kept_capacity) {
        // Shrunk rather than freed: the C library then keeps remapping this
        // block as it grows again.
        if (char* shrunk = static_cast<char*>(std::realloc(bytes_, kept_capacity))) {
            bytes_ = shrunk;
            capacity_ = kept_capacity;
        }
    }
    if (bytes_ != nullptr) bytes_[0] = '\0';
}

namespace {

enum class LineRead { line, last_line, end, failed, too_long };

// Hands the next line to `take` in pieces as they are read, its "\n" left
// out; `take` returns false when it cannot hold a piece. A last line
// without "\n" is still a line.
template <typename Take>
LineRead read_line_pieces(InputBuffer& input, Take take) {
    bool read_any = false;
    for (;;) {
        const char* first = input.begin();
        const std::size_t available = input.size();
        const void* newline = std::memchr(first, '\n', available);
        const std::size_t length =
            newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - first)
                               : available;
        if (!take(first, length)) return LineRead::too_long;
        if (newline != nullptr) {
            input.consume(length + 1);
            return LineRead::line;
        }
        input.consume(available);
        read_any = read_any || available > 0;
        switch (input.fill()) {
            case Fill::more: break;
            case Fill::end: return read_any ? LineRead::last_line : LineRead::end;
            case Fill::failed: return LineRead::failed;
        }
    }
}

// A form line is held whole; one too long for memory is a form that cannot
// be read. The line end, "\n" or "\r\n", is dropped.
LineRead read_line(InputBuffer& input, LineBytes& line) {
    line.clear();
    const LineRead read = read_line_pieces(
        input, [&](const char* bytes, std::size_t count) { return line.append(bytes, count); });
    if (read == LineRead::line && line.view().ends_with('\r')) line.drop_last();
    return read;
}

// atoi's reading of a flag, a piece at a time: only leading blanks, a sign
// and digits count, so a flag line is never held.
class FlagReader {
public:
    void take(std::string_view piece) {
        for (const char c : piece) {
            const bool digit = c >= '0' && c <= '9';
            if (stage_ == Stage::blanks && (c == ' ' || (c >= '\t' && c <= '\r'))) continue;
            if (stage_ == Stage::blanks && (c == '+' || c == '-')) {
                negative_ = c == '-';
                stage_ = Stage::digits;
                continue;
            }
            if (stage_ == Stage::done || !digit) {
                stage_ = Stage::done;
                return;
            }
            stage_ = Stage::digits;
            magnitude_ = std::min(magnitude_ * 10 + (c - '0'), limit);
        }
    }

    std::int32_t value() const {
        if (negative_) return static_cast<std::int32_t>(-magnitude_);
        return static_cast<std::int32_t>(std::min<std::int64_t>(magnitude_, INT_MAX));
    }

private:
    static constexpr std::int64_t limit = std::int64_t{INT_MAX} + 1;
    enum class Stage { blanks, digits, done };
    Stage stage_ = Stage::blanks;
    bool negative_ = false;
    std::int64_t magnitude_ = 0;
};

LineRead read_flag(InputBuffer& input, std::int32_t& flag) {
    FlagReader reader;
    const LineRead read = read_line_pieces(input, [&](const char* bytes, std::size_t count) {
        reader.take({bytes, count});
        return true;
    });
    flag = reader.value();
    return read;
}

}  // namespace

FormRead read_form_record(InputBuffer& form, FormRecord& record) {
    record.marker_line.clear();
    record.output_name.clear();
    // A last line without "\n" leaves nothing for the next read to find.
    auto whole = [](LineRead read) {
        return read == LineRead::line || read == LineRead::last_line;
    };
    LineRead read = read_line(form, record.marker_line);
    if (whole(read)) read = read_line(form, record.output_name);
    if (whole(read)) read = read_flag(form, record.output_flag);
    switch (read) {
        case LineRead::line:
        case LineRead::last_line: return FormRead::record;
        case LineRead::end: return FormRead::end;
        case LineRead::failed: return FormRead::failed;
        case LineRead::too_long: return FormRead::line_too_long;
    }
    return FormRead::failed;
}

}  // namespace kerfline
