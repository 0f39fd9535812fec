#pragma once
// The pieces that tracing walks for one component: the component with its
// holes filled, and every hole cut out to its own rectangle.
#include <cstddef>
#include <optional>
#include <vector>

#include "../image/format/bit_raster.hpp"
#include "../point/point.hpp"

namespace glyph {

struct HoleElement {
    BitRaster image;  // the hole cut out to its rect
    PointI offset;    // the rect's top-left corner
};

struct TraceElements {
    // The component with its holes filled; absent when it has no hole (the
    // image itself is then the outer element).
    std::optional<BitRaster> filled;
    std::vector<HoleElement> holes;  // in the order the clustering of the background yields them
};

// Holes are the 4-connected background pieces that touch no side of the
// image. Stops with "overflow" when the clustering of the background would.
TraceElements find_trace_elements(const BitRaster& image);

// The same by clustering the inverted image pixel by pixel.
TraceElements find_trace_elements_by_clustering(const BitRaster& image);

}  // namespace glyph
