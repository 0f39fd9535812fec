#pragma once
// 4-connected components of a one-bit raster.
#include <cstddef>
#include <vector>

#include "../image/format/bit_raster.hpp"
#include "../path/compound.hpp"
#include "../point/point.hpp"
#include "../point/rect.hpp"
#include "trace.hpp"

namespace glyph {

struct Cluster {
    std::vector<PointI> points;  // every pixel, in order of addition
    Rect rect;                   // covers exactly the points

    std::size_t size() const { return points.size(); }
    // The cluster cut out to its rect; (rect.left, rect.top) maps it back.
    BitRaster to_mask() const;
    // Outline and holes in the coordinates of the clustered image.
    CompoundPath to_shape_path(const TraceParams& params) const;
};

// Components in slot order; stops with "overflow" at 65535 slots.
std::vector<Cluster> find_clusters(const BitRaster& image);

}  // namespace glyph
