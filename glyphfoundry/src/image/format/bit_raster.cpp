#include "bit_raster.hpp"

namespace glyph {

BitRaster BitRaster::create(std::size_t width, std::size_t height) {
    BitRaster raster;
    raster.width = width;
    raster.height = height;
    const std::size_t bits = (width == 0 || height == 0) ? 0 : width * height;
    raster.words.assign((bits + 31) / 32, 0);
    return raster;
}

BitRaster BitRaster::inverted() const {
    BitRaster out = *this;
    if (has_no_pixels()) return out;
    for (auto& word : out.words) word = ~word;
    const std::size_t tail = bit_count() & 31;
    if (tail != 0) out.words.back() &= (std::uint32_t{1} << tail) - 1;
    return out;
}

std::vector<PointI> BitRaster::edge_pixels() const {
    std::vector<PointI> edges;
    if (has_no_pixels()) return edges;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            if (!get_pixel(x, y)) continue;
            const auto xi = static_cast<std::int32_t>(x);
            const auto yi = static_cast<std::int32_t>(y);
            const bool interior = get_pixel_or_false(xi - 1, yi) && get_pixel_or_false(xi + 1, yi) &&
                                  get_pixel_or_false(xi, yi - 1) && get_pixel_or_false(xi, yi + 1);
            if (!interior) edges.push_back({xi, yi});
        }
    }
    return edges;
}

}  // namespace glyph
