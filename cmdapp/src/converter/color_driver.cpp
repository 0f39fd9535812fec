#include "color_driver.hpp"

namespace pixmorf {

ConvertOutcome convert_color(glyph::RgbaRaster image, const Settings& settings, const ConversionParams&) {
    return SvgDocument(image.width, image.height, settings.path_precision);
}

}  // namespace pixmorf
