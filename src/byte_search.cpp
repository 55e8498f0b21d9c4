#include "byte_search.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

// x86 and 64-bit Arm have vector methods of their own. Elsewhere the plain
// method runs: a memchr call a line, which glibc vectorises for s390x too,
// and a comparison at each line start. Every target runs the same tests of
// each method it has at every alignment (cross builds under qemu-user).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define KERFLINE_X86_VECTORS 1
#include <immintrin.h>
#elif defined(__GNUC__) && defined(__aarch64__) && defined(__ARM_NEON) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Little-endian only: the bits of a block's mask follow its bytes' order.
#define KERFLINE_NEON 1
#include <arm_neon.h>
#endif
#if defined(KERFLINE_X86_VECTORS) || defined(KERFLINE_NEON)
#define KERFLINE_BLOCK_SEARCH 1
#endif

namespace kerfline {

namespace {

bool text_at(const char* at, std::string_view text) {
    return std::memcmp(at, text.data(), text.size()) == 0;
}

// Every line start, checked whole.
const char* find_plain(const char* from, const char* end, std::string_view text) {
    for (const char* at = from;;) {
        const void* newline = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        if (newline == nullptr) return end;
        at = static_cast<const char*>(newline) + 1;
        if (static_cast<std::size_t>(end - at) < std::max<std::size_t>(text.size(), 1)) return end;
        if (text_at(at, text)) return at;
    }
}

#ifdef KERFLINE_BLOCK_SEARCH

// The vector methods test a block of places at once for a "\n" before
// them and the text's last byte where it would end, so that only the rare
// line start with both is compared whole: a place inside a line is never
// compared, so text full of the marker's own bytes costs no more than any
// other.

const char* check_hits(const char* at, std::uint64_t hits, std::string_view text) {
    for (; hits != 0; hits &= hits - 1) {
        const char* candidate = at + __builtin_ctzll(hits);
        if (text_at(candidate, text)) return candidate;
    }
    return nullptr;
}

// Each finds the first block of 64 places from `at`, up to `last_block`,
// with any place that may start the text, and gives its places as bits;
// past `last_block` when there is none. They make no call, so their
// constants stay in registers.
using NextCandidates = const char* (*)(const char* at, const char* last_block, std::size_t span,
                                       char last_byte, std::uint64_t& hits);

const char* find_in_blocks(const char* from, const char* end, std::string_view text,
                           NextCandidates next_candidates) {
    const std::size_t span = text.size() - 1;
    const char* at = from + 1;
    if (at >= end || static_cast<std::size_t>(end - at) < 64 + span) {
        return find_plain(from, end, text);
    }
    const char* const last_block = end - (64 + span);  // the last that stays in bounds
    for (;;) {
        std::uint64_t hits = 0;
        at = next_candidates(at, last_block, span, text.back(), hits);
        if (at > last_block) return find_plain(at - 1, end, text);
        if (const char* found = check_hits(at, hits, text)) return found;
        at += 64;
    }
}

#endif

#ifdef KERFLINE_X86_VECTORS

__attribute__((target("avx2"))) inline __m256i equal_avx2(const char* at, __m256i bytes) {
    return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), bytes);
}

// Places in the 32 from `at` with "\n" before and `last` `span` bytes on.
__attribute__((target("avx2"))) inline __m256i match_avx2(const char* at, std::size_t span,
                                                          __m256i newline, __m256i last) {
    return _mm256_and_si256(equal_avx2(at - 1, newline), equal_avx2(at + span, last));
}

__attribute__((target("avx2"), noinline)) const char* next_candidates_avx2(
    const char* at, const char* last_block, std::size_t span, char last_byte,
    std::uint64_t& hits) {
    const __m256i newline = _mm256_set1_epi8('\n');
    const __m256i last = _mm256_set1_epi8(last_byte);
    for (; at <= last_block; at += 64) {
        const __m256i low = match_avx2(at, span, newline, last);
        const __m256i high = match_avx2(at + 32, span, newline, last);
        const __m256i any = _mm256_or_si256(low, high);
        if (_mm256_testz_si256(any, any)) continue;
        hits = static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
               std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
        return at;
    }
    return at;
}

// The same with 64-byte vectors: the first comparison masks the second,
// so a block costs two comparisons and a test (a 1 GiB scan with nothing
// to write measured 6 % faster than with AVX2 on an Intel Xeon).
__attribute__((target("avx512bw"), noinline)) const char* next_candidates_avx512(
    const char* at, const char* last_block, std::size_t span, char last_byte,
    std::uint64_t& hits) {
    const __m512i newline = _mm512_set1_epi8('\n');
    const __m512i last = _mm512_set1_epi8(last_byte);
    for (; at <= last_block; at += 64) {
        const __mmask64 after_newline = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(at - 1), newline);
        const __mmask64 found =
            _mm512_mask_cmpeq_epi8_mask(after_newline, _mm512_loadu_si512(at + span), last);
        if (found == 0) continue;
        hits = found;
        return at;
    }
    return at;
}

__attribute__((target("sse2"))) inline __m128i equal_sse2(const char* at, __m128i bytes) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), bytes);
}

__attribute__((target("sse2"))) const char* find_sse2(const char* from, const char* end,
                                                      std::string_view text) {
    constexpr std::size_t block = 16;
    const std::size_t span = text.size() - 1;
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i last = _mm_set1_epi8(text.back());
    const char* at = from + 1;
    for (; at < end && static_cast<std::size_t>(end - at) >= block + span; at += block) {
        const __m128i all = _mm_and_si128(equal_sse2(at - 1, newline), equal_sse2(at + span, last));
        const auto hits = static_cast<std::uint32_t>(_mm_movemask_epi8(all));
        if (hits == 0) continue;
        if (const char* found = check_hits(at, hits, text)) return found;
    }
    return find_plain(at - 1, end, text);
}

#endif

#ifdef KERFLINE_NEON

// Places of 16 with "\n" before them (`before`) and `last` where the text
// would end (`after`).
inline uint8x16_t match_neon(uint8x16_t before, uint8x16_t after, uint8x16_t newline,
                             uint8x16_t last) {
    return vandq_u8(vceqq_u8(before, newline), vceqq_u8(after, last));
}

// The same with four 16-byte registers a side, each side loaded by one
// ld1. A block is tested by narrowing the OR of its four matches to 64
// bits; its mask of places is built only for a block with a candidate.
// Counting blocks down, not comparing `at`, lets gcc move both pointers on
// in their loads: 22 instructions a block.
__attribute__((noinline)) const char* next_candidates_neon(const char* at, const char* last_block,
                                                           std::size_t span, char last_byte,
                                                           std::uint64_t& hits) {
    if (at > last_block) return at;
    const uint8x16_t newline = vdupq_n_u8('\n');
    const uint8x16_t last = vdupq_n_u8(static_cast<std::uint8_t>(last_byte));
    const auto* before = reinterpret_cast<const std::uint8_t*>(at - 1);
    const auto* after = reinterpret_cast<const std::uint8_t*>(at + span);
    const std::size_t blocks = static_cast<std::size_t>(last_block - at) / 64 + 1;
    for (std::size_t left = blocks; left != 0; --left) {
        const uint8x16x4_t before_bytes = vld1q_u8_x4(before);
        const uint8x16x4_t after_bytes = vld1q_u8_x4(after);
        before += 64;  // beside the loads, where gcc folds it into them
        after += 64;
        const uint8x16_t m0 = match_neon(before_bytes.val[0], after_bytes.val[0], newline, last);
        const uint8x16_t m1 = match_neon(before_bytes.val[1], after_bytes.val[1], newline, last);
        const uint8x16_t m2 = match_neon(before_bytes.val[2], after_bytes.val[2], newline, last);
        const uint8x16_t m3 = match_neon(before_bytes.val[3], after_bytes.val[3], newline, last);
        const uint8x16_t any = vorrq_u8(vorrq_u8(m0, m1), vorrq_u8(m2, m3));
        const uint8x8_t narrowed = vshrn_n_u16(vreinterpretq_u16_u8(any), 4);
        if (vget_lane_u64(vreinterpret_u64_u8(narrowed), 0) == 0) continue;
        // Each place's own bit, added pairwise until a byte holds eight places.
        const uint8x16_t bit = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        const uint8x16_t low = vpaddq_u8(vandq_u8(m0, bit), vandq_u8(m1, bit));
        const uint8x16_t high = vpaddq_u8(vandq_u8(m2, bit), vandq_u8(m3, bit));
        const uint8x16_t eights = vpaddq_u8(low, high);
        hits = vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(eights, eights)), 0);
        return at + (blocks - left) * 64;
    }
    return at + blocks * 64;
}

#endif

SearchMethod fastest_method() {
#ifdef KERFLINE_X86_VECTORS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw")) return SearchMethod::avx512;
    if (__builtin_cpu_supports("avx2")) return SearchMethod::avx2;
    if (__builtin_cpu_supports("sse2")) return SearchMethod::sse2;
#endif
#ifdef KERFLINE_NEON
    return SearchMethod::neon;  // every AArch64 processor has it
#else
    return SearchMethod::plain;
#endif
}

}  // namespace

SearchMethod default_search_method() {
    static const SearchMethod fastest = fastest_method();
    return fastest;
}

std::vector<SearchMethod> usable_search_methods() {
    using enum SearchMethod;
    switch (default_search_method()) {
        case avx512: return {plain, sse2, avx2, avx512};
        case avx2: return {plain, sse2, avx2};
        case sse2: return {plain, sse2};
        case neon: return {plain, neon};
        case plain: break;
    }
    return {plain};
}

const char* find_line_start(const char* from, const char* end, std::string_view text,
                            SearchMethod method) {
    if (from >= end) return end;
    switch (text.empty() ? SearchMethod::plain : method) {
#ifdef KERFLINE_X86_VECTORS
        case SearchMethod::avx512: return find_in_blocks(from, end, text, next_candidates_avx512);
        case SearchMethod::avx2: return find_in_blocks(from, end, text, next_candidates_avx2);
        case SearchMethod::sse2: return find_sse2(from, end, text);
#endif
#ifdef KERFLINE_NEON
        case SearchMethod::neon: return find_in_blocks(from, end, text, next_candidates_neon);
#endif
        default: return find_plain(from, end, text);
    }
}

const char* find_line_start(const char* from, const char* end, std::string_view text) {
    return find_line_start(from, end, text, default_search_method());
}

}  // namespace kerfline
