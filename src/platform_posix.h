// What the two halves of the POSIX platform layer share.
#pragma once

#include <sys/stat.h>

#include "platform.h"

namespace kerfline::posix {

FileId id_of(const struct stat& status);

// Whether `status` is of the placeholder that holds the number of a
// standard stream closed at the start.
bool holds_closed_stream(const struct stat& status);

}  // namespace kerfline::posix
