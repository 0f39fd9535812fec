#include "trace.hpp"

namespace glyph {

CompoundPath trace_image(const BitRaster&, PointI, const TraceParams&) { return {}; }
std::vector<PixelPath> trace_pixel_paths(const BitRaster&, PathMode) { return {}; }
std::vector<Spline> trace_splines(const BitRaster&, const TraceParams&) { return {}; }

}  // namespace glyph
