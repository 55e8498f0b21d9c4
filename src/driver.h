#pragma once

#include "platform.h"

namespace kerfline {

// The whole run: checks the command line, walks the form and returns the
// exit status, 0 for a complete run or the usage text, 1 for a failure.
int run_driver(const CommandLine& command_line);

}  // namespace kerfline
