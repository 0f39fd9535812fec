#pragma once
// Walks the outline of a shape along the pixel corners.
#include "../image/format/bit_raster.hpp"
#include "paths.hpp"

namespace glyph {

// The closed outline of the component holding the first set pixel, reported
// at turn vertices only; simplified when mode is Polygon; empty without a set pixel.
PixelPath outline_path(const BitRaster& image, bool clockwise, PathMode mode);

}  // namespace glyph
