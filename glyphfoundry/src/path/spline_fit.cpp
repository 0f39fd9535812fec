#include <cstddef>
#include <span>
#include <vector>

#include "smooth.hpp"
#include "spline.hpp"
#include "walker.hpp"

namespace glyph {

Spline fit_spline_to_path(const FloatPath& path, double splice_threshold, PointBudget* budget) {
    const auto& p = path.points;
    const std::size_t n = p.size();
    if (n < 3) return Spline{{PointF{0.0, 0.0}}};
    if (n == 3) return Spline{{p[0], p[1], p[1], p[1]}};

    const std::size_t count = n - 1;  // distinct vertices; p[count] repeats p[0]
    const VertexFlags splices = mark_splice_points(path, splice_threshold);
    std::vector<std::size_t> cuts;
    for (std::size_t i = 0; i < count; ++i) {
        if (splices[i]) cuts.push_back(i);
    }
    if (cuts.empty()) cuts.push_back(0);
    // A single cut would leave one run around the whole outline: cut it again
    // halfway round.
    if (cuts.size() == 1) cuts.push_back((cuts[0] + count / 2) % count);

    const std::size_t spline_size = 1 + 3 * cuts.size();
    if (budget != nullptr) budget->spend(spline_size);
    Spline spline;
    spline.points.reserve(spline_size);
    std::vector<PointF> wrapped;
    for (std::size_t k = 0; k < cuts.size(); ++k) {
        const std::size_t from = cuts[k];
        const std::size_t to = cuts[(k + 1) % cuts.size()];
        std::span<const PointF> segment_points;
        if (from < to) {
            segment_points = std::span<const PointF>(p).subspan(from, to - from + 1);
        } else {
            // The run wraps past the end; the repeated closing vertex is skipped.
            wrapped.assign(p.begin() + static_cast<std::ptrdiff_t>(from),
                           p.begin() + static_cast<std::ptrdiff_t>(count));
            wrapped.insert(wrapped.end(), p.begin(), p.begin() + static_cast<std::ptrdiff_t>(to + 1));
            segment_points = wrapped;
        }
        const auto [start, control1, control2, end] = fit_segment(segment_points);
        if (k == 0) spline.points.push_back(start);
        spline.points.push_back(control1);
        spline.points.push_back(control2);
        spline.points.push_back(end);
    }
    return spline;
}

Spline fit_spline_to_mask(const BitRaster& image, bool clockwise, double corner_threshold, double bulge_divisor,
                          double edge_length_limit, std::uint64_t max_iterations, double splice_threshold,
                          PointBudget* budget) {
    const PixelPath outline = outline_path(image, clockwise, PathMode::Polygon);
    const FloatPath smoothed =
        smooth_outline(outline, corner_threshold, bulge_divisor, edge_length_limit, max_iterations, budget);
    return fit_spline_to_path(smoothed, splice_threshold, budget);
}

}  // namespace glyph
