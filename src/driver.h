#pragma once

#include <cstddef>

#include "input_buffer.h"
#include "platform.h"

namespace kerfline {

// How far the run reads ahead in the input and in the form. Only tests
// choose others: small windows cross every buffer boundary on small files.
struct BufferCapacities {
    std::size_t input = InputBuffer::default_capacity;
    std::size_t form = 64 * 1024;
};

// The whole run: checks the command line, walks the form and returns the
// exit status, 0 for a complete run or the usage text, 1 for a failure.
int run_driver(const CommandLine& command_line, const BufferCapacities& capacities = {});

}  // namespace kerfline
