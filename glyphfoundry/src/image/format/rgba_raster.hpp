#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "../../color/color.hpp"
#include "bit_raster.hpp"

namespace glyph {

// Row-major RGBA bytes, top row first. Invariant: pixels.size() == 4 * width * height.
// A picture with a zero side may have a huge other side and no pixels: every
// stage must iterate over pixels, not over rows, or return early.
struct RgbaRaster {
    std::vector<std::uint8_t> pixels;
    std::size_t width = 0;
    std::size_t height = 0;

    // All pixels (0, 0, 0, 0). The caller guarantees that 4 * width * height fits.
    static RgbaRaster create(std::size_t width, std::size_t height);

    std::size_t pixel_count() const { return pixels.size() / 4; }
    bool has_no_pixels() const { return pixels.empty(); }

    Color get_pixel(std::size_t x, std::size_t y) const {
        const std::size_t i = 4 * (y * width + x);
        return {pixels.at(i), pixels[i + 1], pixels[i + 2], pixels[i + 3]};
    }
    void set_pixel(std::size_t x, std::size_t y, Color c) {
        const std::size_t i = 4 * (y * width + x);
        pixels.at(i + 3) = c.a;
        pixels[i] = c.r;
        pixels[i + 1] = c.g;
        pixels[i + 2] = c.b;
    }
    // Pixel by row-major index.
    Color pixel_at(std::size_t index) const {
        const std::size_t i = 4 * index;
        return {pixels[i], pixels[i + 1], pixels[i + 2], pixels[i + 3]};
    }

    // Set exactly where predicate(get_pixel(x, y)) holds; one row-major pass.
    template <class Predicate>
    BitRaster make_binary(Predicate predicate) const {
        BitRaster out = BitRaster::create(width, height);
        const std::size_t count = pixel_count();
        for (std::size_t i = 0; i < count; ++i) {
            if (predicate(pixel_at(i))) out.set_bit(i, true);
        }
        return out;
    }
};

}  // namespace glyph
