// What the walk over the form does with each record's output: a run opens
// it and writes the section to it, a dry run looks at it and counts what a
// run would write. The walk, the marker rule and the guard are the same.
#pragma once

#include <cstdint>

#include "form_reader.h"
#include "input_buffer.h"
#include "platform.h"
#include "section_copier.h"

namespace kerfline {

constexpr int exit_complete = 0;
constexpr int exit_failed = 1;

class Outputs {
public:
    // Before the record's section is cut: where its bytes go, or null to
    // pass over them, and what counts its line ends, or null. False ends
    // the walk with status 1.
    virtual bool begin(std::int64_t index, const FormRecord& record, ByteSink*& sink,
                       std::uint64_t*& line_ends) = 0;
    // Once the section is cut to its marker line or to the input's end, or
    // could not be written. False ends the walk with status 1.
    virtual bool end(Cut cut) = 0;
    // At the form's end, with what no record reads: the exit status.
    virtual int finish(InputBuffer& rest) = 0;

protected:
    ~Outputs() = default;
};

}  // namespace kerfline
