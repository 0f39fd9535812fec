#pragma once
// The two polygon kinds of traced outlines and their path-data text.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "../point/point.hpp"

namespace glyph {

enum class PathMode : std::uint8_t { None = 0, Polygon = 1, Spline = 2 };

// Vertices on pixel corners; traced outlines are closed (last repeats first).
struct PixelPath {
    std::vector<PointI> points;
    bool operator==(const PixelPath&) const = default;

    void offset(PointI d);  // 32-bit wrapping addition
    // "M", "L" per vertex, "Z " with close; precision is ignored.
    std::string to_path_data(bool close, PointI offset, std::optional<std::uint32_t> precision) const;
};

struct FloatPath {
    std::vector<PointF> points;
    bool operator==(const FloatPath&) const = default;

    void offset(PointF d);
    std::string to_path_data(bool close, PointF offset, std::optional<std::uint32_t> precision) const;
};

}  // namespace glyph
