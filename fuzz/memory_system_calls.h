// A stand-in for src/system_calls_posix.cpp that keeps every file in memory:
// a flat set of names, each a file of its own, and a captured console. It
// lets a fuzzer run the whole tool thousands of times a second.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace kerfline::fuzzing {

// Replaces every file and the console; reads hand out at most `read_limit`
// bytes, as a pipe might.
void reset_memory_files(std::map<std::string, std::string> files, std::size_t read_limit);

const std::map<std::string, std::string>& memory_files();
const std::string& memory_console();
// Descriptors opened and not yet closed.
std::size_t memory_open_count();

}  // namespace kerfline::fuzzing
