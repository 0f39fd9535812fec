#pragma once
// From the one-bit image of one 4-connected component to the sub-paths of
// its outline and holes.
#include <cstdint>
#include <vector>

#include "../image/format/bit_raster.hpp"
#include "../path/compound.hpp"
#include "../path/paths.hpp"
#include "../path/spline.hpp"

namespace glyph {

// The path mode and the spline parameters, passed through unchanged.
struct TraceParams {
    PathMode mode = PathMode::Spline;
    std::uint64_t max_iterations = 10;
    double corner_threshold = 0.0;  // radians
    double length_threshold = 4.0;  // pixels
    double splice_threshold = 0.0;  // radians
    // Shared by every outline of one conversion; not owned; may be null.
    PointBudget* smoothing_budget = nullptr;
};

CompoundPath trace_image(const BitRaster& image, PointI offset, const TraceParams& params);
std::vector<PixelPath> trace_pixel_paths(const BitRaster& image, PathMode mode);
std::vector<Spline> trace_splines(const BitRaster& image, const TraceParams& params);

}  // namespace glyph
