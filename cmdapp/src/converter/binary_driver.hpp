#pragma once
#include "../../../glyphfoundry/src/image/format/bit_raster.hpp"
#include "settings.hpp"

namespace pixmorf {

// Every 4-connected region of pixels with red below 128, at least
// speckle_area pixels large, as one black shape, in cluster order.
SvgDocument convert_binary(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params);

// The same from the picture's dark pixels, already found.
SvgDocument convert_binary(glyph::BitRaster dark, const Settings& settings, const ConversionParams& params);

}  // namespace pixmorf
