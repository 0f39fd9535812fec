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

// The first index in [from, end) whose bit equals `value`, or `end`. Whole
// words of the other value are skipped with one comparison each.
inline std::size_t find_next_bit(const BitRaster& image, std::size_t from, std::size_t end, bool value) {
    if (from >= end) return end;
    const std::uint32_t flip = value ? 0 : ~std::uint32_t{0};
    std::size_t w = from / 32;
    std::uint32_t bits = (image.words[w] ^ flip) & (~std::uint32_t{0} << (from % 32));
    const std::size_t last_word = (end - 1) / 32;
    while (bits == 0) {
        if (++w > last_word) return end;
        bits = image.words[w] ^ flip;
    }
    const std::size_t found = w * 32 + static_cast<std::size_t>(std::countr_zero(bits));
    return found < end ? found : end;
}

// Calls visit(run_begin, run_end) for every maximal run of set bits in
// [begin, end), in increasing order; both bounds are bit indices.
template <class Visit>
void for_each_set_run(const BitRaster& image, std::size_t begin, std::size_t end, Visit&& visit) {
    std::size_t at = find_next_bit(image, begin, end, true);
    while (at < end) {
        const std::size_t run_end = find_next_bit(image, at, end, false);
        visit(at, run_end);
        at = find_next_bit(image, run_end, end, true);
    }
}

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
