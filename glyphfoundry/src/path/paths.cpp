#include "paths.hpp"

namespace glyph {

namespace {

// "M" for the first vertex, "L" for each following one, "Z " with close.
// A closed outline repeats its start vertex last; with close that repeat is
// not written, the "Z" stands for it.
template <class Point, class PointText>
std::string polygon_path_data(const std::vector<Point>& points, bool close, PointText point_text) {
    std::string text;
    const std::size_t n = points.size();
    if (n == 0) return text;
    text += 'M';
    text += point_text(points[0]);
    text += ' ';
    const std::size_t end = close ? n - 1 : n;
    for (std::size_t i = 1; i < end; ++i) {
        text += 'L';
        text += point_text(points[i]);
        text += ' ';
    }
    if (close) text += "Z ";
    return text;
}

}  // namespace

void PixelPath::offset(PointI d) {
    for (auto& p : points) p = wrapping_add(p, d);
}

void FloatPath::offset(PointF d) {
    for (auto& p : points) p = p + d;
}

std::string PixelPath::to_path_data(bool close, PointI offset, std::optional<std::uint32_t>) const {
    return polygon_path_data(points, close, [offset](PointI p) { return wrapping_add(p, offset).to_path_data(); });
}

std::string FloatPath::to_path_data(bool close, PointF offset, std::optional<std::uint32_t> precision) const {
    return polygon_path_data(points, close,
                             [offset, precision](PointF p) { return (p + offset).to_path_data(precision); });
}

}  // namespace glyph
