#include "smooth.hpp"

#include <cmath>
#include <cstddef>
#include <limits>

#include "../failure.hpp"
#include "bezier_fit.hpp"

namespace glyph {

namespace {

// Edge direction between two corner-grid vertices. The difference is taken in
// 64 bits, so coordinates far apart cannot overflow before the exact
// conversion to floating point.
PointF edge_direction(PointI from, PointI to) {
    return {static_cast<double>(std::int64_t{to.x} - std::int64_t{from.x}),
            static_cast<double>(std::int64_t{to.y} - std::int64_t{from.y})};
}

}  // namespace

VertexFlags mark_corners(const PixelPath& path, double corner_threshold) {
    const auto& p = path.points;
    const std::size_t n = p.size();
    if (n < 2) return {};
    const std::size_t count = n - 1;
    VertexFlags corners(count, false);
    // Edge i runs from p[i] to p[i + 1] (to p[0] for the last distinct vertex);
    // each edge's angle serves the vertex before it and the vertex after it.
    const auto edge_angle = [&](std::size_t i) {
        return direction_angle(edge_direction(p[i], p[i + 1 == count ? 0 : i + 1]));
    };
    double incoming = edge_angle(count - 1);
    for (std::size_t i = 0; i < count; ++i) {
        const double outgoing = edge_angle(i);
        const double turn = turn_between_angles(incoming, outgoing);
        // A zero-length edge gives a not-a-number turn, which is never a corner.
        corners[i] = std::abs(turn) >= corner_threshold;
        incoming = outgoing;
    }
    return corners;
}

SplitResult split_long_edges(const FloatPath& path, const VertexFlags& corners, double bulge_divisor,
                             double edge_length_limit, PointBudget* budget) {
    const auto& p = path.points;
    if (p.size() < 2) return {path, corners, true};
    const std::size_t count = p.size() - 1;  // distinct vertices
    const auto after = [count](std::size_t i) { return i + 1 == count ? 0 : i + 1; };
    const auto before = [count](std::size_t i) { return i == 0 ? count - 1 : i - 1; };
    // The outer neighbours of edge i -> j used for the bulge; a corner stands in
    // for the neighbour on its own side.
    const auto is_corner = [&corners](std::size_t i) { return i < corners.size() && corners[i]; };
    const auto outer_a = [&](std::size_t i) { return is_corner(i) ? i : before(i); };
    const auto outer_b = [&](std::size_t j) { return is_corner(j) ? j : after(j); };

    // First decide which edges get a new point, so that the exact size of the
    // new path is known (and charged) before it is allocated.
    std::vector<bool> splits(count, false);
    std::size_t split_count = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t j = after(i);
        const double length = norm(p[i] - p[j]);
        if (edge_length_limit >= length) continue;
        // An edge next to an edge at least twice as long is left alone.
        if (norm(p[before(i)] - p[i]) / length >= 2.0) continue;
        if (norm(p[after(j)] - p[j]) / length >= 2.0) continue;
        // An edge between two corners stays straight (and so does the only
        // edge of a one-vertex loop, whose neighbours are its own ends).
        if (outer_a(i) == i && outer_b(j) == j) continue;
        splits[i] = true;
        ++split_count;
    }

    const std::size_t new_size = count + split_count + 1;
    if (budget != nullptr) budget->spend(new_size);

    SplitResult result;
    result.path.points.reserve(new_size);
    result.corners.reserve(new_size - 1);
    auto& out = result.path.points;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(p[i]);
        result.corners.push_back(is_corner(i));
        if (!splits[i]) continue;
        const std::size_t j = after(i);
        const std::size_t a = outer_a(i);
        const std::size_t b = outer_b(j);
        const PointF mid = (p[i] + p[j]) * 0.5;
        const PointF outer = (p[a] + p[b]) * 0.5;
        const PointF bulge = mid - outer;
        const double k = norm(bulge) / bulge_divisor;
        const PointF inserted =
            k < std::numeric_limits<double>::epsilon() ? mid : mid + normalize(bulge) * k;
        out.push_back(inserted);
        result.corners.push_back(false);
        if (norm(p[i] - inserted) > edge_length_limit || norm(p[j] - inserted) > edge_length_limit) {
            result.converged = false;
        }
    }
    out.push_back(out.front());
    return result;
}

FloatPath smooth_outline(const PixelPath& path, double corner_threshold, double bulge_divisor,
                         double edge_length_limit, std::uint64_t max_iterations, PointBudget* budget) {
    if (max_iterations == 0) stop("assertion failed: max_iterations > 0");
    VertexFlags corners = mark_corners(path, corner_threshold);

    if (budget != nullptr) budget->spend(path.points.size());
    FloatPath smoothed;
    smoothed.points.reserve(path.points.size());
    for (const PointI v : path.points) smoothed.points.push_back(to_float(v));
    if (smoothed.points.size() < 2) return smoothed;

    for (std::uint64_t pass = 0; pass < max_iterations; ++pass) {
        SplitResult next = split_long_edges(smoothed, corners, bulge_divisor, edge_length_limit, budget);
        smoothed = std::move(next.path);
        corners = std::move(next.corners);
        if (next.converged) break;
    }
    return smoothed;
}

VertexFlags mark_splice_points(const FloatPath& path, double splice_threshold) {
    const auto& p = path.points;
    const std::size_t n = p.size();
    if (n < 2) return {};
    const std::size_t count = n - 1;
    VertexFlags splices(count, false);
    double accumulated = 0.0;
    bool negative = false;
    // As in mark_corners, each edge's direction angle is computed once.
    const auto edge_angle = [&](std::size_t i) { return direction_angle(p[i + 1 == count ? 0 : i + 1] - p[i]); };
    double incoming = edge_angle(count - 1);
    for (std::size_t i = 0; i < count; ++i) {
        const double outgoing = edge_angle(i);
        const double turn = turn_between_angles(incoming, outgoing);
        incoming = outgoing;
        // The sign bit decides, so +0.0 turns the positive way.
        const bool turn_negative = std::signbit(turn);
        if (i == 0) {
            negative = turn_negative;
        } else if (turn_negative != negative) {
            splices[i] = true;
            negative = turn_negative;
        }
        accumulated += turn;
        if (std::abs(accumulated) >= splice_threshold) splices[i] = true;
        if (splices[i]) accumulated = 0.0;
    }
    return splices;
}

std::array<PointF, 4> fit_segment(std::span<const PointF> run) {
    const std::optional<CubicBezier> curve = fit_first_cubic_bezier(run, FIT_MAX_ERROR);
    if (!curve) return {};
    // The curve's own ends are not used: the segment runs exactly between the run's ends.
    return correct_control_points(run.front(), curve->control1, curve->control2, run.back());
}

std::array<PointF, 4> correct_control_points(PointF s, PointF a, PointF b, PointF e) {
    const double turn1 = turn_angle(s - e, a - s);
    const double turn2 = turn_angle(a - s, b - a);
    if (std::signbit(turn1) == std::signbit(turn2)) return {s, a, b, e};

    // The control polygon changes its turning direction: move both control
    // points to where the line through S and A meets the line through B and E.
    const double den = (a.x - s.x) * (e.y - b.y) - (a.y - s.y) * (e.x - b.x);
    const double num = (e.x - b.x) * (s.y - b.y) - (e.y - b.y) * (s.x - b.x);
    if (std::abs(den) >= PARALLEL_EPSILON) {
        const double t = num / den;
        const PointF crossing{(a.x - s.x) * t + s.x, (a.y - s.y) * t + s.y};
        return {s, crossing, crossing, e};
    }
    // Parallel lines: when all four points lie on one line, both control points
    // go to the middle of S and A; otherwise the fit is kept.
    const double c = (a.x - s.x) * (s.y - b.y) - (s.x - b.x) * (a.y - s.y);
    if (std::abs(c) < PARALLEL_EPSILON && std::abs(num) < PARALLEL_EPSILON) {
        const PointF middle{(a.x + s.x) * 0.5, (a.y + s.y) * 0.5};
        return {s, middle, middle, e};
    }
    return {s, a, b, e};
}

}  // namespace glyph
