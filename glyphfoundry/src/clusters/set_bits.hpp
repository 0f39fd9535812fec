#pragma once
// Word-at-a-time scans over a bit range of a BitRaster, so that sparse rows
// cost one test per 32 pixels.
#include <bit>
#include <cstddef>
#include <cstdint>

#include "../image/format/bit_raster.hpp"

namespace glyph {

// The bits of word `w` that lie in [begin, end).
inline std::uint32_t word_bits_in_range(const BitRaster& image, std::size_t w, std::size_t begin, std::size_t end) {
    std::uint32_t bits = image.words[w];
    const std::size_t first = w * 32;
    if (begin > first) bits &= ~std::uint32_t{0} << (begin - first);
    if (end < first + 32) bits &= (std::uint32_t{1} << (end - first)) - 1;
    return bits;
}

// Calls visit(index) for every set bit in [begin, end), in increasing order.
template <class Visit>
void for_each_set_bit(const BitRaster& image, std::size_t begin, std::size_t end, Visit&& visit) {
    if (begin >= end) return;
    const std::size_t last_word = (end - 1) / 32;
    for (std::size_t w = begin / 32; w <= last_word; ++w) {
        std::uint32_t bits = word_bits_in_range(image, w, begin, end);
        while (bits != 0) {
            visit(w * 32 + static_cast<std::size_t>(std::countr_zero(bits)));
            bits &= bits - 1;
        }
    }
}

// Calls visit(run_begin, run_end) for every maximal run of bits equal to
// `value` in [begin, end), in increasing order; both bounds are bit indices.
template <class Visit>
void for_each_run(const BitRaster& image, std::size_t begin, std::size_t end, bool value, Visit&& visit) {
    if (begin >= end) return;
    const std::size_t last_word = (end - 1) / 32;
    bool in_run = false;
    std::size_t run_begin = 0;
    for (std::size_t w = begin / 32; w <= last_word; ++w) {
        std::uint32_t bits = word_bits_in_range(image, w, begin, end);
        if (!value) bits = ~bits;
        const std::size_t first = w * 32;
        const std::size_t lo = begin > first ? begin - first : 0;
        const std::size_t hi = end < first + 32 ? end - first : 32;
        // Walk the bit positions lo..hi of this word by jumps between changes.
        std::size_t pos = lo;
        while (pos < hi) {
            const std::uint32_t rest = bits >> pos;
            if (in_run) {
                const auto ones = static_cast<std::size_t>(std::countr_one(rest));
                if (pos + ones >= hi) {
                    pos = hi;
                } else {
                    pos += ones;
                    visit(run_begin, first + pos);
                    in_run = false;
                }
            } else {
                if (rest == 0) {
                    pos = hi;
                } else {
                    pos += static_cast<std::size_t>(std::countr_zero(rest));
                    if (pos >= hi) break;
                    run_begin = first + pos;
                    in_run = true;
                }
            }
        }
    }
    if (in_run) visit(run_begin, end);
}

}  // namespace glyph

namespace glyph {

// Sets every bit in [begin, end).
inline void set_bit_range(BitRaster& image, std::size_t begin, std::size_t end) {
    while (begin < end) {
        const std::size_t w = begin / 32;
        const std::size_t first = w * 32;
        const std::size_t hi = end < first + 32 ? end - first : 32;
        const std::size_t lo = begin - first;
        const std::uint32_t ones = hi - lo == 32 ? ~std::uint32_t{0} : ((std::uint32_t{1} << (hi - lo)) - 1) << lo;
        image.words[w] |= ones;
        begin = first + hi;
    }
}

}  // namespace glyph
