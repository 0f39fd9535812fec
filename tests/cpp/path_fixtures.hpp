#pragma once
// Small closed paths shared by the smoothing and spline tests.
#include <cmath>
#include <utility>
#include <vector>

#include "path/paths.hpp"

namespace glyph::test {

inline FloatPath closed_float_path(std::vector<PointF> points) {
    points.push_back(points.front());
    return FloatPath{std::move(points)};
}

// A regular polygon of `count` vertices on a circle, clockwise on screen.
inline FloatPath regular_polygon(int count, double radius) {
    std::vector<PointF> points;
    for (int k = 0; k < count; ++k) {
        const double a = 2.0 * 3.141592653589793 * k / count;
        points.push_back({radius * std::cos(a), radius * std::sin(a)});
    }
    return closed_float_path(points);
}

}  // namespace glyph::test
