#pragma once
// Small one-bit pictures written as text: rows separated by '/', 'X' set,
// anything else unset, e.g. "X.X/XXX".
#include <string_view>

#include "image/format/bit_raster.hpp"

inline glyph::BitRaster bitmap_from_text(std::string_view text) {
    std::size_t width = text.find('/');
    if (width == std::string_view::npos) width = text.size();
    const std::size_t height = text.empty() ? 0 : (text.size() + 1) / (width + 1);
    glyph::BitRaster image = glyph::BitRaster::create(width, height);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            if (text[y * (width + 1) + x] == 'X') image.set_pixel(x, y, true);
        }
    }
    return image;
}
