#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "path/bezier_fit.hpp"

using namespace glyph;

namespace {

double distance(PointF a, PointF b) { return norm(a - b); }

// Distance from p to the segment a-b.
double distance_to_segment(PointF p, PointF a, PointF b) {
    const PointF ab = b - a;
    const double t = ((p.x - a.x) * ab.x + (p.y - a.y) * ab.y) / (ab.x * ab.x + ab.y * ab.y);
    const double clamped = std::fmax(0.0, std::fmin(1.0, t));
    return distance(p, a + ab * clamped);
}

// Largest distance from the points to the curve, measured against a dense
// polyline of the curve.
double largest_gap(const std::vector<PointF>& points, const CubicBezier& curve) {
    std::vector<PointF> dense;
    for (int k = 0; k <= 2000; ++k) dense.push_back(curve.at(k / 2000.0));
    double largest = 0.0;
    for (const PointF p : points) {
        double nearest = INFINITY;
        for (std::size_t k = 0; k + 1 < dense.size(); ++k)
            nearest = std::fmin(nearest, distance_to_segment(p, dense[k], dense[k + 1]));
        largest = std::fmax(largest, nearest);
    }
    return largest;
}

std::vector<PointF> sample(const CubicBezier& curve, int count) {
    std::vector<PointF> points;
    for (int i = 0; i < count; ++i) points.push_back(curve.at(static_cast<double>(i) / (count - 1)));
    return points;
}

// A circular arc of `degrees` around the origin, one point per degree step.
std::vector<PointF> arc(double radius, int degrees) {
    std::vector<PointF> points;
    for (int d = 0; d <= degrees; ++d) {
        const double a = d * 3.141592653589793 / 180.0;
        points.push_back({radius * std::cos(a), radius * std::sin(a)});
    }
    return points;
}

}  // namespace

TEST(BezierFit, FewerThanTwoPointsGiveNothing) {
    EXPECT_TRUE(fit_cubic_beziers({}, 10.0).empty());
    const std::vector<PointF> one{{3.0, 4.0}};
    EXPECT_TRUE(fit_cubic_beziers(one, 10.0).empty());
    EXPECT_FALSE(fit_first_cubic_bezier(one, 10.0).has_value());
}

TEST(BezierFit, TwoPointsGiveStraightSegmentWithControlsAtThirds) {
    const std::vector<PointF> points{{0.0, 0.0}, {6.0, 3.0}};
    const auto curves = fit_cubic_beziers(points, 10.0);
    ASSERT_EQ(curves.size(), 1u);
    EXPECT_EQ(curves[0].start, points[0]);
    EXPECT_EQ(curves[0].end, points[1]);
    EXPECT_NEAR(curves[0].control1.x, 2.0, 1e-12);
    EXPECT_NEAR(curves[0].control1.y, 1.0, 1e-12);
    EXPECT_NEAR(curves[0].control2.x, 4.0, 1e-12);
    EXPECT_NEAR(curves[0].control2.y, 2.0, 1e-12);
}

TEST(BezierFit, StraightRunGivesControlPointsOnTheLine) {
    // Unevenly spaced points on the line y = 2x + 1.
    std::vector<PointF> points;
    for (const double x : {0.0, 0.5, 2.0, 2.25, 5.0, 9.0, 10.0}) points.push_back({x, 2.0 * x + 1.0});
    const auto curves = fit_cubic_beziers(points, 0.01);
    ASSERT_EQ(curves.size(), 1u);
    for (const PointF c : {curves[0].control1, curves[0].control2}) {
        EXPECT_NEAR(c.y, 2.0 * c.x + 1.0, 1e-9);
        EXPECT_GT(c.x, 0.0);
        EXPECT_LT(c.x, 10.0);
    }
}

TEST(BezierFit, RecoversACubicItWasSampledFrom) {
    const CubicBezier truth{{0.0, 0.0}, {20.0, 60.0}, {80.0, 70.0}, {100.0, 0.0}};
    const auto points = sample(truth, 40);
    const auto curves = fit_cubic_beziers(points, 0.5);
    ASSERT_EQ(curves.size(), 1u);
    EXPECT_EQ(curves[0].start, truth.start);
    EXPECT_EQ(curves[0].end, truth.end);
    // The fitted curve follows the true one closely along its whole length.
    EXPECT_LT(largest_gap(sample(truth, 400), curves[0]), 0.5);
    EXPECT_LT(largest_gap(sample(curves[0], 400), truth), 0.5);
}

TEST(BezierFit, SplitsRunsThatOneCurveCannotFollow) {
    struct Case {
        const char* name;
        std::vector<PointF> points;
        double max_error;
    };
    std::vector<PointF> zigzag;
    for (int i = 0; i <= 12; ++i) zigzag.push_back({i * 5.0, (i % 2) * 20.0});
    const Case cases[] = {
        {"three-quarter circle", arc(100.0, 270), 0.5},
        {"full circle", arc(50.0, 360), 0.2},
        {"zigzag", zigzag, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto curves = fit_cubic_beziers(c.points, c.max_error);
        ASSERT_GT(curves.size(), 1u);
        EXPECT_EQ(curves.front().start, c.points.front());
        EXPECT_EQ(curves.back().end, c.points.back());
        // Consecutive curves meet exactly at a point of the run and every
        // curve stays within the error of the points it covers.
        std::size_t begin = 0;
        for (std::size_t k = 0; k < curves.size(); ++k) {
            std::size_t end = begin + 1;
            while (!(c.points[end] == curves[k].end)) ++end;
            if (k + 1 < curves.size()) {
                EXPECT_EQ(curves[k].end, curves[k + 1].start);
            }
            const std::vector<PointF> covered(c.points.begin() + static_cast<std::ptrdiff_t>(begin),
                                              c.points.begin() + static_cast<std::ptrdiff_t>(end + 1));
            EXPECT_LE(largest_gap(covered, curves[k]), c.max_error + 1e-9);
            begin = end;
        }
        EXPECT_EQ(begin, c.points.size() - 1);
        // The first-curve shortcut gives exactly the full fitter's first curve.
        const auto first = fit_first_cubic_bezier(c.points, c.max_error);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(*first, curves.front());
    }
}

TEST(BezierFit, SmoothJoinsAtSplitPoints) {
    const auto points = arc(100.0, 270);
    const auto curves = fit_cubic_beziers(points, 0.5);
    ASSERT_GT(curves.size(), 1u);
    for (std::size_t k = 0; k + 1 < curves.size(); ++k) {
        const PointF in = normalize(curves[k].end - curves[k].control2);
        const PointF out = normalize(curves[k + 1].control1 - curves[k + 1].start);
        EXPECT_NEAR(in.x, out.x, 1e-12);
        EXPECT_NEAR(in.y, out.y, 1e-12);
    }
}

TEST(BezierFit, DegenerateRunsGiveFiniteCurves) {
    const std::vector<std::vector<PointF>> runs{
        {{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}},                           // all points equal
        {{0.0, 0.0}, {0.0, 0.0}, {5.0, 5.0}, {5.0, 5.0}},               // repeated ends
        {{0.0, 0.0}, {10.0, 0.0}, {0.0, 0.0}},                          // out and back
        {{0.0, 0.0}, {3.0, 4.0}, {6.0, 0.0}, {9.0, 4.0}, {0.0, 0.0}},  // closed
    };
    for (const auto& run : runs) {
        const auto curves = fit_cubic_beziers(run, 0.5);
        ASSERT_FALSE(curves.empty());
        for (const CubicBezier& c : curves) {
            for (const PointF p : {c.start, c.control1, c.control2, c.end}) {
                EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
            }
        }
        EXPECT_EQ(*fit_first_cubic_bezier(run, 0.5), curves.front());
    }
}
