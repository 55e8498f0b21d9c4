#include "byte_search.h"

#include <cstdint>
#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KERFLINE_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace kerfline {

namespace {

// Every place where the needle's first byte stands, checked whole.
const char* find_plain(const char* from, const char* end, std::string_view needle) {
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

#ifdef KERFLINE_X86_VECTORS

// The vector methods compare a block of positions at once on the needle's
// first and last bytes, so that only the rare position that has both is
// checked whole: a first byte that is common in the text costs nothing.

const char* check_hits(const char* at, std::uint64_t hits, std::string_view needle) {
    for (; hits != 0; hits &= hits - 1) {
        const char* candidate = at + __builtin_ctzll(hits);
        if (std::memcmp(candidate + 1, needle.data() + 1, needle.size() - 2) == 0) return candidate;
    }
    return nullptr;
}

// Positions in the 32 bytes from `at` whose byte is `first` and whose byte
// `span` further on is `last`.
__attribute__((target("avx2"))) inline __m256i match_avx2(const char* at, std::size_t span,
                                                          __m256i first, __m256i last) {
    const __m256i head = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + span));
    return _mm256_and_si256(_mm256_cmpeq_epi8(head, first), _mm256_cmpeq_epi8(tail, last));
}

__attribute__((target("avx2"))) const char* find_avx2(const char* from, const char* end,
                                                      std::string_view needle) {
    constexpr std::size_t block = 64;
    const std::size_t span = needle.size() - 1;
    const __m256i first = _mm256_set1_epi8(needle.front());
    const __m256i last = _mm256_set1_epi8(needle.back());
    const char* at = from;
    for (; static_cast<std::size_t>(end - at) >= block + span; at += block) {
        const __m256i low = match_avx2(at, span, first, last);
        const __m256i high = match_avx2(at + 32, span, first, last);
        if (_mm256_testz_si256(_mm256_or_si256(low, high), _mm256_or_si256(low, high))) continue;
        const std::uint64_t hits =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
        if (const char* found = check_hits(at, hits, needle)) return found;
    }
    return find_plain(at, end, needle);
}

__attribute__((target("sse2"))) const char* find_sse2(const char* from, const char* end,
                                                      std::string_view needle) {
    constexpr std::size_t block = 16;
    const std::size_t span = needle.size() - 1;
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    const char* at = from;
    for (; static_cast<std::size_t>(end - at) >= block + span; at += block) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + span));
        const auto hits = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(head, first), _mm_cmpeq_epi8(tail, last))));
        if (hits == 0) continue;
        if (const char* found = check_hits(at, hits, needle)) return found;
    }
    return find_plain(at, end, needle);
}

#endif

SearchMethod fastest_method() {
#ifdef KERFLINE_X86_VECTORS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SearchMethod::avx2;
    if (__builtin_cpu_supports("sse2")) return SearchMethod::sse2;
#endif
    return SearchMethod::plain;
}

}  // namespace

std::vector<SearchMethod> usable_search_methods() {
    std::vector<SearchMethod> methods = {SearchMethod::plain};
    const SearchMethod fastest = fastest_method();
    if (fastest != SearchMethod::plain) methods.push_back(SearchMethod::sse2);
    if (fastest == SearchMethod::avx2) methods.push_back(SearchMethod::avx2);
    return methods;
}

const char* find_bytes(const char* from, const char* end, std::string_view needle,
                       SearchMethod method) {
    if (needle.size() == 1) {
        const void* hit = std::memchr(from, needle.front(), static_cast<std::size_t>(end - from));
        return hit == nullptr ? end : static_cast<const char*>(hit);
    }
    switch (method) {
#ifdef KERFLINE_X86_VECTORS
        case SearchMethod::avx2: return find_avx2(from, end, needle);
        case SearchMethod::sse2: return find_sse2(from, end, needle);
#endif
        default: return find_plain(from, end, needle);
    }
}

const char* find_bytes(const char* from, const char* end, std::string_view needle) {
    static const SearchMethod fastest = fastest_method();
    return find_bytes(from, end, needle, fastest);
}

}  // namespace kerfline
