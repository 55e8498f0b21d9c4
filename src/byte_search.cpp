#include "byte_search.h"

#include <cstring>

namespace kerfline {

const char* find_bytes(const char* from, const char* end, std::string_view needle) {
    const char first = needle.front();
    const std::size_t rest = needle.size() - 1;
    while (static_cast<std::size_t>(end - from) > rest) {
        const void* hit = std::memchr(from, first, static_cast<std::size_t>(end - from) - rest);
        if (hit == nullptr) break;
        const char* at = static_cast<const char*>(hit);
        if (std::memcmp(at + 1, needle.data() + 1, rest) == 0) return at;
        from = at + 1;
    }
    return end;
}

}  // namespace kerfline
