#pragma once
// The pieces that tracing walks for one component: the component with its
// holes filled, and every hole cut out to its own rectangle.
#include <optional>
#include <vector>

#include "../path/compound.hpp"
#include "../point/point.hpp"
#include "run_mask.hpp"
#include "trace.hpp"

namespace glyph {

struct HoleElement {
    RunMask image;  // the hole cut out to its rect
    PointI offset;  // the rect's top-left corner
    bool operator==(const HoleElement&) const = default;
};

struct TraceElements {
    // The component with its holes filled; absent when it has no hole (the
    // picture itself is then the outer element).
    std::optional<RunMask> filled;
    std::vector<HoleElement> holes;  // in the order the clustering of the background yields them
    bool operator==(const TraceElements&) const = default;
};

// Holes are the 4-connected background pieces that touch no side of the
// picture. Stops with "overflow" when the clustering of the background would.
TraceElements find_trace_elements(const RunMask& image);

// The same by clustering the inverted picture pixel by pixel.
TraceElements find_trace_elements_by_clustering(const BitRaster& image);

// trace_image on a picture kept as runs.
CompoundPath trace_mask(const RunMask& image, PointI offset, const TraceParams& params);
// The same when the bits the runs were made from are at hand: the outline
// walk reads them directly instead of searching the runs.
CompoundPath trace_mask(const RunMask& image, const BitRaster& bits, PointI offset, const TraceParams& params);

}  // namespace glyph
