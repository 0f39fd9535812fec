#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../../point/point.hpp"

namespace glyph {

// One bit per pixel, bit y * width + x, packed into 32-bit words (bit i is
// bit i % 32 of word i / 32). Bits past width * height in the last word are 0.
struct BitRaster {
    std::vector<std::uint32_t> words;
    std::size_t width = 0;
    std::size_t height = 0;

    static BitRaster create(std::size_t width, std::size_t height);

    std::size_t bit_count() const { return width * height; }
    bool has_no_pixels() const { return width == 0 || height == 0; }

    bool get_bit(std::size_t i) const { return (words[i >> 5] >> (i & 31)) & 1u; }
    void set_bit(std::size_t i, bool value) {
        const std::uint32_t mask = std::uint32_t{1} << (i & 31);
        if (value) words[i >> 5] |= mask;
        else words[i >> 5] &= ~mask;
    }

    bool get_pixel(std::size_t x, std::size_t y) const { return get_bit(y * width + x); }
    void set_pixel(std::size_t x, std::size_t y, bool value) { set_bit(y * width + x, value); }

    // False outside the image, so the outside reads as unset background.
    bool get_pixel_or_false(std::int32_t x, std::int32_t y) const {
        if (x < 0 || y < 0) return false;
        const auto ux = static_cast<std::size_t>(x);
        const auto uy = static_cast<std::size_t>(y);
        if (ux >= width || uy >= height) return false;
        return get_pixel(ux, uy);
    }

    BitRaster inverted() const;
    // Set pixels that are not interior, row-major.
    std::vector<PointI> edge_pixels() const;
};

}  // namespace glyph
