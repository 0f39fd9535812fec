#pragma once
// Closed chains of cubic Bezier segments: the type, its text, and the
// pipeline that fits one to a traced outline.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../image/format/bit_raster.hpp"
#include "../point/point.hpp"
#include "paths.hpp"
#include "point_budget.hpp"

namespace glyph {

// Invariant: 1 + 3n points (start, then control, control, end per segment).
struct Spline {
    std::vector<PointF> points;
    bool operator==(const Spline&) const = default;

    void offset(PointF d);
    // Empty text below 4 points; stops with "Invalid spline! Length must be 1+3n."
    std::string to_path_data(bool close, PointF offset, std::optional<std::uint32_t> precision) const;
};

// Cuts a smoothed closed path at its splice points (and always into at least
// two runs) and fits one cubic segment per run. The spline's points are
// charged to `budget`, when given.
Spline fit_spline_to_path(const FloatPath& path, double splice_threshold, PointBudget* budget = nullptr);

// Trace (polygon mode), smooth and fit the outline of the one shape in `image`.
// Smoothed and fitted points are charged to `budget` when it is given.
Spline fit_spline_to_mask(const BitRaster& image, bool clockwise, double corner_threshold,
                          double bulge_divisor, double edge_length_limit, std::uint64_t max_iterations,
                          double splice_threshold, PointBudget* budget);

}  // namespace glyph
