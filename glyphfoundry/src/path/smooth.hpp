#pragma once
// Corner detection and iterative smoothing of simplified outlines, and the
// per-segment steps of spline fitting (splice points, one cubic per run).
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "../point/point.hpp"
#include "paths.hpp"
#include "point_budget.hpp"

namespace glyph {

// One flag per distinct vertex of a closed path (the repeated last vertex has none).
using VertexFlags = std::vector<bool>;

// Vertices whose absolute turn reaches `corner_threshold` (radians).
VertexFlags mark_corners(const PixelPath& path, double corner_threshold);

struct SplitResult {
    FloatPath path;
    VertexFlags corners;
    bool converged = true;
};

// One smoothing pass: a pushed-out point is inserted in every edge longer than
// `edge_length_limit` unless a neighbouring edge is at least twice as long or
// both ends are corners. `path` is closed with at least 2 vertices and
// `corners` has one entry per distinct vertex. The pass's output points are
// charged to `budget`, when given, before they are allocated.
SplitResult split_long_edges(const FloatPath& path, const VertexFlags& corners, double bulge_divisor,
                             double edge_length_limit, PointBudget* budget = nullptr);

// Corners marked once, then passes of split_long_edges until one converges or
// `max_iterations` passes ran. Stops with "assertion failed: max_iterations > 0"
// when max_iterations is 0.
FloatPath smooth_outline(const PixelPath& path, double corner_threshold, double bulge_divisor,
                         double edge_length_limit, std::uint64_t max_iterations, PointBudget* budget = nullptr);

// Vertices where a spline segment must end: a change of turning direction, or
// an accumulated turn since the last such vertex that reaches `splice_threshold`.
VertexFlags mark_splice_points(const FloatPath& path, double splice_threshold);

inline constexpr double FIT_MAX_ERROR = 10.0;
inline constexpr double PARALLEL_EPSILON = 1e-7;

// The segment (s, a, b, e) itself when its control polygon turns the same way
// at s (coming from e) and at a; otherwise both control points move to where
// the line s-a meets the line b-e, or, when those lines are parallel, to the
// middle of s and a if all four points lie on one line (else nothing changes).
std::array<PointF, 4> correct_control_points(PointF s, PointF a, PointF b, PointF e);

// One cubic segment (start, control, control, end) through a run of at least
// two points, its control points corrected so that the segment does not
// change its turning direction. Four (0, 0) points for a shorter run.
std::array<PointF, 4> fit_segment(std::span<const PointF> run);

}  // namespace glyph
