#pragma once
// Point types, the vector operations shared by smoothing and fitting, and the
// text of one coordinate in SVG path data.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace glyph {

// A pixel (its top-left corner) or a vertex of the corner grid.
struct PointI {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const PointI&) const = default;
    std::string to_path_data() const;  // "x,y"
};

// 32-bit addition with wrap-around (done in unsigned arithmetic).
inline PointI wrapping_add(PointI a, PointI b) {
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(a.x) + static_cast<std::uint32_t>(b.x)),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(a.y) + static_cast<std::uint32_t>(b.y))};
}

struct PointF {
    double x = 0.0;
    double y = 0.0;
    bool operator==(const PointF&) const = default;
    std::string to_path_data(std::optional<std::uint32_t> precision) const;  // "x,y"
};

inline PointF operator+(PointF a, PointF b) { return {a.x + b.x, a.y + b.y}; }
inline PointF operator-(PointF a, PointF b) { return {a.x - b.x, a.y - b.y}; }
inline PointF operator*(PointF a, double k) { return {a.x * k, a.y * k}; }
inline PointF to_float(PointI p) { return {static_cast<double>(p.x), static_cast<double>(p.y)}; }

inline double norm(PointF v) { return std::sqrt(v.x * v.x + v.y * v.y); }

inline PointF normalize(PointF v) {
    if (v.x * v.x + v.y * v.y == 0.0) return {0.0, 0.0};
    const double length = norm(v);
    return {v.x / length, v.y / length};
}

inline constexpr double PI = 3.141592653589793;
inline constexpr double TWO_PI = 6.283185307179586;

// Angle of v from +x towards +y, by acos; not-a-number for the zero vector.
inline double direction_angle(PointF v) {
    const double length = norm(v);
    double angle = std::acos(v.x / length);
    if (v.y / length < 0.0) angle = -angle;
    return angle;
}

// Signed turn from direction angle a1 to a2, in (-pi, pi]; turn_angle below
// takes the edge directions instead. Callers that walk a path reuse each
// edge's angle for the next vertex.
inline double turn_between_angles(double a1, double a2) {
    if (a2 < a1) a2 += TWO_PI;
    double t = a2 - a1;
    if (t > PI) t -= TWO_PI;
    return t;
}

// Signed turn from edge direction d1 to d2, in (-pi, pi].
inline double turn_angle(PointF d1, PointF d2) {
    return turn_between_angles(direction_angle(d1), direction_angle(d2));
}

// One coordinate of path data: shortest round-trip text without precision,
// otherwise exactly rounded to `precision` decimals with trailing zeros and
// point trimmed. Stops with "Formatting argument out of range" above 65535.
std::string format_coordinate(double value, std::optional<std::uint32_t> precision);

inline constexpr std::uint32_t MAX_PATH_PRECISION = 65535;

}  // namespace glyph
