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

// Each method comes in two: one that only finds, and one that also counts
// the line ends it passes, for a dry run's line numbers. Counting is done
// on the bytes the search loads anyway, so that it costs a few operations
// a block rather than a second pass over the input.
template <bool counting>
struct LineEnds {
    void add(std::size_t) {}
    void add(const char*, const char*) {}
};

template <>
struct LineEnds<true> {
    std::size_t& count;
    void add(std::size_t more) { count += more; }
    void add(const char* from, const char* to) {
        count += static_cast<std::size_t>(std::count(from, to, '\n'));
    }
};

bool text_at(const char* at, std::string_view text) {
    return std::memcmp(at, text.data(), text.size()) == 0;
}

// Every line start, checked whole.
template <bool counting>
const char* find_plain(const char* from, const char* end, std::string_view text,
                       LineEnds<counting> line_ends) {
    for (const char* at = from;;) {
        const void* newline = std::memchr(at, '\n', static_cast<std::size_t>(end - at));
        if (newline == nullptr) return end;
        at = static_cast<const char*>(newline) + 1;
        line_ends.add(1);
        if (static_cast<std::size_t>(end - at) < std::max<std::size_t>(text.size(), 1)) {
            line_ends.add(at, end);  // too close to the end for the text to follow
            return end;
        }
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
// past `last_block` when there is none. A block of places from `at` looks
// at the line ends of the bytes from at - 1; those of the blocks it passes
// are counted. They make no call, so their constants stay in registers.
template <bool counting>
using NextCandidates = const char* (*)(const char* at, const char* last_block, std::size_t span,
                                       char last_byte, std::uint64_t& hits,
                                       LineEnds<counting> line_ends);

template <bool counting>
const char* find_in_blocks(const char* from, const char* end, std::string_view text,
                           NextCandidates<counting> next_candidates,
                           LineEnds<counting> line_ends) {
    const std::size_t span = text.size() - 1;
    const char* at = from + 1;
    if (at >= end || static_cast<std::size_t>(end - at) < 64 + span) {
        return find_plain(from, end, text, line_ends);
    }
    const char* const last_block = end - (64 + span);  // the last that stays in bounds
    for (;;) {
        std::uint64_t hits = 0;
        at = next_candidates(at, last_block, span, text.back(), hits, line_ends);
        if (at > last_block) return find_plain(at - 1, end, text, line_ends);
        const char* found = check_hits(at, hits, text);
        // The rare block with a candidate counts its own line ends.
        line_ends.add(at - 1, found != nullptr ? found : at + 63);
        if (found != nullptr) return found;
        at += 64;
    }
}

#endif

#ifdef KERFLINE_X86_VECTORS

__attribute__((target("avx2"))) inline __m256i equal_avx2(const char* at, __m256i bytes) {
    return _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at)), bytes);
}

// The sum of the bytes of `low` and `high`.
__attribute__((target("avx2"))) inline std::size_t sum_avx2(__m256i low, __m256i high) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i sums = _mm256_add_epi64(_mm256_sad_epu8(low, zero), _mm256_sad_epu8(high, zero));
    // Through memory: a 32-bit build has no 64-bit lane extraction.
    alignas(32) std::uint64_t lanes[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sums);
    return static_cast<std::size_t>(lanes[0] + lanes[1] + lanes[2] + lanes[3]);
}

// A line end counts as a 1 in its place of two vectors of byte sums, added
// up every 255 blocks before a byte can overflow: two operations a block.
template <bool counting>
__attribute__((target("avx2"), noinline)) const char* next_candidates_avx2(
    const char* at, const char* last_block, std::size_t span, char last_byte,
    std::uint64_t& hits, LineEnds<counting> line_ends) {
    const __m256i newline = _mm256_set1_epi8('\n');
    const __m256i last = _mm256_set1_epi8(last_byte);
    std::size_t passed = 0;  // in a register, not through `line_ends`, which any load may alias
    for (bool found = false; !found && at <= last_block;) {
        const char* const stop =
            counting && static_cast<std::size_t>(last_block - at) > 254 * 64 ? at + 254 * 64 : last_block;
        __m256i low_sums = _mm256_setzero_si256();
        __m256i high_sums = low_sums;
        for (; at <= stop; at += 64) {
            // Places with "\n" before them and `last` `span` bytes on.
            const __m256i low_newlines = equal_avx2(at - 1, newline);
            const __m256i high_newlines = equal_avx2(at + 31, newline);
            const __m256i low = _mm256_and_si256(low_newlines, equal_avx2(at + span, last));
            const __m256i high = _mm256_and_si256(high_newlines, equal_avx2(at + 32 + span, last));
            const __m256i any = _mm256_or_si256(low, high);
            if (!_mm256_testz_si256(any, any)) {
                hits = static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
                       std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
                found = true;
                break;
            }
            if constexpr (counting) {
                low_sums = _mm256_sub_epi8(low_sums, low_newlines);
                high_sums = _mm256_sub_epi8(high_sums, high_newlines);
            }
        }
        if constexpr (counting) passed += sum_avx2(low_sums, high_sums);
    }
    line_ends.add(passed);
    return at;
}

// The same with 64-byte vectors: the first comparison masks the second,
// so a block costs two comparisons and a test (a 1 GiB scan with nothing
// to write measured 6 % faster than with AVX2 on an Intel Xeon).
template <bool counting>
__attribute__((target("avx512bw,popcnt"), noinline)) const char* next_candidates_avx512(
    const char* at, const char* last_block, std::size_t span, char last_byte,
    std::uint64_t& hits, LineEnds<counting> line_ends) {
    const __m512i newline = _mm512_set1_epi8('\n');
    const __m512i last = _mm512_set1_epi8(last_byte);
    std::size_t passed = 0;
    for (; at <= last_block; at += 64) {
        const __mmask64 after_newline = _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(at - 1), newline);
        const __mmask64 found =
            _mm512_mask_cmpeq_epi8_mask(after_newline, _mm512_loadu_si512(at + span), last);
        if (found == 0) {
            if constexpr (counting) passed += static_cast<std::size_t>(__builtin_popcountll(after_newline));
            continue;
        }
        hits = found;
        break;
    }
    line_ends.add(passed);
    return at;
}

__attribute__((target("sse2"))) inline __m128i equal_sse2(const char* at, __m128i bytes) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), bytes);
}

template <bool counting>
__attribute__((target("sse2"))) const char* find_sse2(const char* from, const char* end,
                                                      std::string_view text,
                                                      LineEnds<counting> line_ends) {
    constexpr std::size_t block = 16;
    const std::size_t span = text.size() - 1;
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i last = _mm_set1_epi8(text.back());
    const char* at = from + 1;
    std::size_t passed = 0;
    for (; at < end && static_cast<std::size_t>(end - at) >= block + span; at += block) {
        const __m128i newlines = equal_sse2(at - 1, newline);
        const auto hits = static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_and_si128(newlines, equal_sse2(at + span, last))));
        const char* found = hits != 0 ? check_hits(at, hits, text) : nullptr;
        if (found != nullptr) {
            line_ends.add(passed);
            line_ends.add(at - 1, found);
            return found;
        }
        if constexpr (counting) {
            passed += static_cast<std::size_t>(
                __builtin_popcount(static_cast<unsigned>(_mm_movemask_epi8(newlines))));
        }
    }
    line_ends.add(passed);
    return find_plain(at - 1, end, text, line_ends);
}

#endif

#ifdef KERFLINE_NEON

// The same with four 16-byte registers a side, each side loaded by one
// ld1. A block is tested by narrowing the OR of its four matches to 64
// bits; its mask of places is built only for a block with a candidate.
// Counting blocks down, not comparing `at`, lets gcc move both pointers on
// in their loads: 22 instructions a block.
template <bool counting>
__attribute__((noinline)) const char* next_candidates_neon(const char* at, const char* last_block,
                                                           std::size_t span, char last_byte,
                                                           std::uint64_t& hits,
                                                           LineEnds<counting> line_ends) {
    if (at > last_block) return at;
    const uint8x16_t newline = vdupq_n_u8('\n');
    const uint8x16_t last = vdupq_n_u8(static_cast<std::uint8_t>(last_byte));
    const auto* before = reinterpret_cast<const std::uint8_t*>(at - 1);
    const auto* after = reinterpret_cast<const std::uint8_t*>(at + span);
    const std::size_t blocks = static_cast<std::size_t>(last_block - at) / 64 + 1;
    std::size_t passed = 0;
    for (std::size_t left = blocks; left != 0; --left) {
        const uint8x16x4_t before_bytes = vld1q_u8_x4(before);
        const uint8x16x4_t after_bytes = vld1q_u8_x4(after);
        before += 64;  // beside the loads, where gcc folds it into them
        after += 64;
        // Places with "\n" before them and `last` where the text would end.
        const uint8x16_t n0 = vceqq_u8(before_bytes.val[0], newline);
        const uint8x16_t n1 = vceqq_u8(before_bytes.val[1], newline);
        const uint8x16_t n2 = vceqq_u8(before_bytes.val[2], newline);
        const uint8x16_t n3 = vceqq_u8(before_bytes.val[3], newline);
        const uint8x16_t m0 = vandq_u8(n0, vceqq_u8(after_bytes.val[0], last));
        const uint8x16_t m1 = vandq_u8(n1, vceqq_u8(after_bytes.val[1], last));
        const uint8x16_t m2 = vandq_u8(n2, vceqq_u8(after_bytes.val[2], last));
        const uint8x16_t m3 = vandq_u8(n3, vceqq_u8(after_bytes.val[3], last));
        const uint8x16_t any = vorrq_u8(vorrq_u8(m0, m1), vorrq_u8(m2, m3));
        const uint8x8_t narrowed = vshrn_n_u16(vreinterpretq_u16_u8(any), 4);
        if (vget_lane_u64(vreinterpret_u64_u8(narrowed), 0) == 0) {
            if constexpr (counting) {
                // Each "\n" a 1, four places of a block to a byte: 64 at most.
                const uint8x16_t ones = vaddq_u8(vaddq_u8(vshrq_n_u8(n0, 7), vshrq_n_u8(n1, 7)),
                                                 vaddq_u8(vshrq_n_u8(n2, 7), vshrq_n_u8(n3, 7)));
                passed += vaddvq_u8(ones);
            }
            continue;
        }
        // Each place's own bit, added pairwise until a byte holds eight places.
        const uint8x16_t bit = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        const uint8x16_t low = vpaddq_u8(vandq_u8(m0, bit), vandq_u8(m1, bit));
        const uint8x16_t high = vpaddq_u8(vandq_u8(m2, bit), vandq_u8(m3, bit));
        const uint8x16_t eights = vpaddq_u8(low, high);
        hits = vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(eights, eights)), 0);
        line_ends.add(passed);
        return at + (blocks - left) * 64;
    }
    line_ends.add(passed);
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

template <bool counting>
const char* find_by(const char* from, const char* end, std::string_view text, SearchMethod method,
                    LineEnds<counting> line_ends) {
    if (from >= end) return end;
    switch (text.empty() ? SearchMethod::plain : method) {
#ifdef KERFLINE_X86_VECTORS
        case SearchMethod::avx512:
            return find_in_blocks<counting>(from, end, text, next_candidates_avx512<counting>, line_ends);
        case SearchMethod::avx2:
            return find_in_blocks<counting>(from, end, text, next_candidates_avx2<counting>, line_ends);
        case SearchMethod::sse2: return find_sse2(from, end, text, line_ends);
#endif
#ifdef KERFLINE_NEON
        case SearchMethod::neon:
            return find_in_blocks<counting>(from, end, text, next_candidates_neon<counting>, line_ends);
#endif
        default: return find_plain(from, end, text, line_ends);
    }
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
    return find_by<false>(from, end, text, method, {});
}

const char* find_line_start(const char* from, const char* end, std::string_view text) {
    return find_by<false>(from, end, text, default_search_method(), {});
}

const char* find_line_start(const char* from, const char* end, std::string_view text,
                            std::size_t& line_ends, SearchMethod method) {
    return find_by<true>(from, end, text, method, {line_ends});
}

const char* find_line_start(const char* from, const char* end, std::string_view text,
                            std::size_t& line_ends) {
    return find_by<true>(from, end, text, default_search_method(), {line_ends});
}

}  // namespace kerfline
