#include "binary_driver.hpp"

namespace pixmorf {

SvgDocument convert_binary(glyph::RgbaRaster image, const Settings& settings, const ConversionParams&) {
    return SvgDocument(image.width, image.height, settings.path_precision);
}

}  // namespace pixmorf
