#include "spline.hpp"

#include "../failure.hpp"

namespace glyph {

void Spline::offset(PointF d) {
    for (auto& p : points) p = p + d;
}

std::string Spline::to_path_data(bool close, PointF offset, std::optional<std::uint32_t> precision) const {
    const std::size_t m = points.size();
    if (m < 4) return {};
    if ((m - 1) % 3 != 0) stop("Invalid spline! Length must be 1+3n.");

    // Coordinates are separated by blanks only; each is followed by one.
    std::string text;
    const auto append_point = [&](PointF p) {
        p = p + offset;
        text += format_coordinate(p.x, precision);
        text += ' ';
        text += format_coordinate(p.y, precision);
        text += ' ';
    };
    text += 'M';
    append_point(points[0]);
    for (std::size_t k = 1; k < m; k += 3) {
        text += 'C';
        append_point(points[k]);
        append_point(points[k + 1]);
        append_point(points[k + 2]);
    }
    if (close) text += "Z ";
    return text;
}

}  // namespace glyph
