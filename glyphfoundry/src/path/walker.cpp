#include "walker.hpp"

namespace glyph {

PixelPath outline_path(const BitRaster&, bool, PathMode) { return {}; }

}  // namespace glyph
