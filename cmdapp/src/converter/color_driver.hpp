#pragma once
#include "settings.hpp"

namespace pixmorf {

// Colour segmentation, stacked or cutout, with transparency keying.
ConvertOutcome convert_color(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params);

}  // namespace pixmorf
