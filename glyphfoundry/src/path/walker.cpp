#include "walker.hpp"

#include <bit>

#include "simplify.hpp"

namespace glyph {

PixelPath simplify_for_mode(PixelPath walked, bool clockwise, PathMode mode) {
    if (mode == PathMode::Polygon) return prune_by_penalty(drop_stair_steps(walked, clockwise));
    return walked;
}

PixelPath outline_path(const BitRaster& image, bool clockwise, PathMode mode) {
    if (image.has_no_pixels()) return {};
    const std::size_t count = image.bit_count();
    for (std::size_t w = 0; w < image.words.size(); ++w) {
        if (image.words[w] == 0) continue;
        const std::size_t first = w * 32 + static_cast<std::size_t>(std::countr_zero(image.words[w]));
        if (first >= count) break;
        const PointI start{static_cast<std::int32_t>(first % image.width), static_cast<std::int32_t>(first / image.width)};
        return walk_outline(image, start, clockwise, mode);
    }
    return {};
}

}  // namespace glyph
