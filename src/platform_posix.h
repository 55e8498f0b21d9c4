// What the two halves of the POSIX platform layer share.
#pragma once

#include <string>
#include <sys/stat.h>

#include "platform.h"

namespace kerfline::posix {

FileId id_of(const struct stat& status);

// Whether `status` is of the placeholder that holds the number of a
// standard stream closed at the start.
bool holds_closed_stream(const struct stat& status);

// The folder and the name in it where an open that creates `path` would
// make it, following a link that points nowhere; false for an empty path.
// The folder may be relative, and hold links. Throws std::bad_alloc.
bool made_at(const std::string& path, std::string& folder, std::string& file);

}  // namespace kerfline::posix
