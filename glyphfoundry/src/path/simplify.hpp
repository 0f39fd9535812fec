#pragma once
// Polygon simplification of traced pixel outlines.
#include <cmath>

#include "paths.hpp"

namespace glyph {

// Drops the staircase vertices next to a unit step that do not turn with the
// outline's orientation (`clockwise` as it was traced).
PixelPath drop_stair_steps(const PixelPath& path, bool clockwise);

// Replaces runs of vertices by straight edges while no skipped vertex strays
// too far from the edge that replaces it.
PixelPath prune_by_penalty(const PixelPath& path);

inline constexpr double PENALTY_TOLERANCE = 1.0;

// Euclidean distance of two corners, from the integer differences.
double corner_distance(PointI from, PointI to);

// The cost of skipping a vertex at distances l1 (from the edge start) and l2
// (to the edge end) from an edge of length `base`: a quarter of base times the
// squared distance of the vertex from the edge's line, by Heron's rule.
// Not a number when rounding makes the squared area negative, or for 0 / 0.
inline double penalty_term(double l1, double l2, double base) {
    const double s = (l1 + l2 + base) * 0.5;
    const double h = ((s - l1) * s) * (s - l2) * (s - base);
    const double root = std::sqrt(h);
    return (root * root) / base;
}

}  // namespace glyph
