#include "bezier_fit.hpp"

#include <algorithm>
#include <cstddef>

namespace glyph {

namespace {

// Newton-Raphson refinements of the parameters tried before a run is split.
constexpr int MAX_REPARAMETERIZATIONS = 4;

// det(C) below this fraction of C00 * C11 means the two tangent columns are
// (nearly) dependent and the least-squares system has no useful solution.
constexpr double DEGENERATE_SYSTEM = 1e-12;

double dot(PointF a, PointF b) { return a.x * b.x + a.y * b.y; }

struct Bernstein {
    double b0, b1, b2, b3;
    explicit Bernstein(double t) {
        const double s = 1.0 - t;
        b0 = s * s * s;
        b1 = 3.0 * t * s * s;
        b2 = 3.0 * t * t * s;
        b3 = t * t * t;
    }
};

// Parameters proportional to the distance travelled along the polyline.
void chord_length_parameters(std::span<const PointF> points, std::vector<double>& u) {
    const std::size_t n = points.size();
    u.resize(n);
    u[0] = 0.0;
    for (std::size_t i = 1; i < n; ++i) u[i] = u[i - 1] + norm(points[i] - points[i - 1]);
    const double total = u[n - 1];
    if (total > 0.0) {
        for (std::size_t i = 1; i < n; ++i) u[i] /= total;
    } else {
        // All points coincide: spread the parameters evenly instead of dividing by zero.
        for (std::size_t i = 1; i < n; ++i) u[i] = static_cast<double>(i) / static_cast<double>(n - 1);
    }
    u[n - 1] = 1.0;
}

// The curve with the given ends and end tangents whose control points lie
// at the least-squares distances along the tangents.
CubicBezier least_squares_curve(std::span<const PointF> points, std::span<const double> u, PointF tangent1,
                                PointF tangent2) {
    const PointF first = points.front();
    const PointF last = points.back();
    double c00 = 0.0, c01 = 0.0, c11 = 0.0, x0 = 0.0, x1 = 0.0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Bernstein b(u[i]);
        const PointF a1 = tangent1 * b.b1;
        const PointF a2 = tangent2 * b.b2;
        c00 += dot(a1, a1);
        c01 += dot(a1, a2);
        c11 += dot(a2, a2);
        const PointF residual = points[i] - (first * (b.b0 + b.b1) + last * (b.b2 + b.b3));
        x0 += dot(a1, residual);
        x1 += dot(a2, residual);
    }
    const double det = c00 * c11 - c01 * c01;
    double alpha1 = 0.0;
    double alpha2 = 0.0;
    if (det > DEGENERATE_SYSTEM * c00 * c11) {
        alpha1 = (x0 * c11 - x1 * c01) / det;
        alpha2 = (c00 * x1 - c01 * x0) / det;
    }
    if (!(alpha1 > 0.0) || !(alpha2 > 0.0)) {
        // No usable solution: put both control points at a third of the chord.
        alpha1 = alpha2 = norm(last - first) / 3.0;
    }
    return {first, first + tangent1 * alpha1, last + tangent2 * alpha2, last};
}

struct FitError {
    double largest = 0.0;
    std::size_t at = 0;  // index of the point with the largest distance
};

// Largest distance from an inner point to the curve at its parameter. The end
// points lie on the curve by construction.
FitError largest_distance(std::span<const PointF> points, std::span<const double> u, const CubicBezier& curve) {
    FitError error{0.0, points.size() / 2};
    for (std::size_t i = 1; i + 1 < points.size(); ++i) {
        const double distance = norm(curve.at(u[i]) - points[i]);
        if (distance > error.largest) error = {distance, i};
    }
    return error;
}

// One Newton-Raphson step towards the parameter of the curve point nearest to p.
double refine_parameter(const CubicBezier& curve, PointF p, double t) {
    const PointF d0 = (curve.control1 - curve.start) * 3.0;
    const PointF d1 = (curve.control2 - curve.control1) * 3.0;
    const PointF d2 = (curve.end - curve.control2) * 3.0;
    const double s = 1.0 - t;
    const PointF first_derivative = d0 * (s * s) + d1 * (2.0 * s * t) + d2 * (t * t);
    const PointF second_derivative = (d1 - d0) * (2.0 * s) + (d2 - d1) * (2.0 * t);
    const PointF offset = curve.at(t) - p;
    const double numerator = dot(offset, first_derivative);
    const double denominator = dot(first_derivative, first_derivative) + dot(offset, second_derivative);
    if (!(denominator != 0.0)) return t;
    const double refined = t - numerator / denominator;
    if (!(refined == refined)) return t;
    return std::clamp(refined, 0.0, 1.0);
}

struct RunFit {
    CubicBezier curve;
    bool within_error = true;
    std::size_t split = 0;  // where to split the run when not within the error
};

// Fits one curve to the whole run; `u` is scratch space for the parameters.
RunFit fit_run(std::span<const PointF> points, PointF tangent1, PointF tangent2, double max_error,
               std::vector<double>& u) {
    const PointF first = points.front();
    const PointF last = points.back();
    if (points.size() == 2) {
        const double third = norm(last - first) / 3.0;
        return {{first, first + tangent1 * third, last + tangent2 * third, last}, true, 0};
    }
    chord_length_parameters(points, u);
    CubicBezier curve = least_squares_curve(points, u, tangent1, tangent2);
    FitError error = largest_distance(points, u, curve);
    for (int step = 0; step < MAX_REPARAMETERIZATIONS && !(error.largest <= max_error); ++step) {
        for (std::size_t i = 1; i + 1 < points.size(); ++i) u[i] = refine_parameter(curve, points[i], u[i]);
        curve = least_squares_curve(points, u, tangent1, tangent2);
        error = largest_distance(points, u, curve);
    }
    return {curve, error.largest <= max_error, error.at};
}

PointF start_tangent(std::span<const PointF> points) { return normalize(points[1] - points[0]); }

PointF end_tangent(std::span<const PointF> points) {
    const std::size_t n = points.size();
    return normalize(points[n - 2] - points[n - 1]);
}

// Tangent at an inner split point, pointing backwards along the run (the end
// tangent of the part before the split; negated, the start tangent of the part after it).
PointF split_tangent(std::span<const PointF> points, std::size_t split) {
    const PointF across = normalize(points[split - 1] - points[split + 1]);
    if (across.x != 0.0 || across.y != 0.0) return across;
    return normalize(points[split - 1] - points[split]);
}

}  // namespace

PointF CubicBezier::at(double t) const {
    const Bernstein b(t);
    return start * b.b0 + control1 * b.b1 + control2 * b.b2 + end * b.b3;
}

std::vector<CubicBezier> fit_cubic_beziers(std::span<const PointF> points, double max_error) {
    std::vector<CubicBezier> curves;
    if (points.size() < 2) return curves;

    // Pending sub-runs, the next one to fit on top; each split pushes the part
    // after the split below the part before it, so curves come out in order.
    struct Pending {
        std::size_t begin, end;  // inclusive point indices
        PointF tangent1, tangent2;
    };
    std::vector<Pending> pending{{0, points.size() - 1, start_tangent(points), end_tangent(points)}};
    std::vector<double> u;
    while (!pending.empty()) {
        const Pending run = pending.back();
        pending.pop_back();
        const auto run_points = points.subspan(run.begin, run.end - run.begin + 1);
        const RunFit fit = fit_run(run_points, run.tangent1, run.tangent2, max_error, u);
        if (fit.within_error) {
            curves.push_back(fit.curve);
            continue;
        }
        const PointF tangent = split_tangent(run_points, fit.split);
        const std::size_t split = run.begin + fit.split;
        pending.push_back({split, run.end, tangent * -1.0, run.tangent2});
        pending.push_back({run.begin, split, run.tangent1, tangent});
    }
    return curves;
}

std::optional<CubicBezier> fit_first_cubic_bezier(std::span<const PointF> points, double max_error) {
    if (points.size() < 2) return std::nullopt;
    const PointF tangent1 = start_tangent(points);
    PointF tangent2 = end_tangent(points);
    std::vector<double> u;
    auto run = points;
    while (true) {
        const RunFit fit = fit_run(run, tangent1, tangent2, max_error, u);
        if (fit.within_error) return fit.curve;
        tangent2 = split_tangent(run, fit.split);
        run = run.first(fit.split + 1);
    }
}

}  // namespace glyph
