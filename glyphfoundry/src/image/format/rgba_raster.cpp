#include "rgba_raster.hpp"

namespace glyph {

RgbaRaster RgbaRaster::create(std::size_t width, std::size_t height) {
    RgbaRaster raster;
    raster.width = width;
    raster.height = height;
    raster.pixels.assign(4 * width * height, 0);
    return raster;
}

}  // namespace glyph
