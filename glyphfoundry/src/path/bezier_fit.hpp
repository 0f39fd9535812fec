#pragma once
// Least-squares fitting of cubic Bezier curves to an ordered run of points.
//
// The run is parameterised by chord length; the end tangents come from the
// first two and the last two points. The two control points are placed along
// those tangents at the distances that minimise the squared distances of the
// points from the curve at their parameters. When the largest of those
// distances exceeds the allowed error, the parameters are refined by up to
// four Newton-Raphson steps; if that does not suffice, the run is split at the
// point of largest error and both halves are fitted on their own, with a
// shared tangent at the split point so the curves join smoothly.
#include <optional>
#include <span>
#include <vector>

#include "../point/point.hpp"

namespace glyph {

struct CubicBezier {
    PointF start;
    PointF control1;
    PointF control2;
    PointF end;
    bool operator==(const CubicBezier&) const = default;

    PointF at(double t) const;
};

// Curves that approximate `points` in order, each within `max_error` pixels
// of its points (as far as splitting down to two-point runs allows).
// Empty for fewer than two points.
std::vector<CubicBezier> fit_cubic_beziers(std::span<const PointF> points, double max_error);

// The first curve of fit_cubic_beziers, computed without fitting the rest of
// the run. Nothing for fewer than two points.
std::optional<CubicBezier> fit_first_cubic_bezier(std::span<const PointF> points, double max_error);

}  // namespace glyph
