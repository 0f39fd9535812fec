#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "failure.hpp"
#include "image/format/bit_raster.hpp"
#include "path/smooth.hpp"
#include "path/spline.hpp"
#include "path/walker.hpp"
#include "path_fixtures.hpp"

using namespace glyph;
using glyph::test::closed_float_path;
using glyph::test::regular_polygon;

namespace {

constexpr double DEG = 3.141592653589793 / 180.0;


void expect_closed_chain(const Spline& spline) {
    ASSERT_GE(spline.points.size(), 4u);
    EXPECT_EQ(spline.points.size() % 3, 1u);
    EXPECT_EQ(spline.points.front(), spline.points.back());
}

BitRaster disk(std::size_t size, double radius) {
    BitRaster image = BitRaster::create(size, size);
    const double c = static_cast<double>(size) / 2.0;
    for (std::size_t y = 0; y < size; ++y) {
        for (std::size_t x = 0; x < size; ++x) {
            const double dx = static_cast<double>(x) + 0.5 - c;
            const double dy = static_cast<double>(y) + 0.5 - c;
            image.set_pixel(x, y, dx * dx + dy * dy <= radius * radius);
        }
    }
    return image;
}

}  // namespace

TEST(FitSplineToPath, ShortPaths) {
    EXPECT_EQ(fit_spline_to_path(FloatPath{{{3, 4}}}, 45 * DEG), (Spline{{{0, 0}}}));
    EXPECT_EQ(fit_spline_to_path(FloatPath{{{3, 4}, {3, 4}}}, 45 * DEG), (Spline{{{0, 0}}}));
    EXPECT_EQ(fit_spline_to_path(FloatPath{{{0, 0}, {2, 1}, {0, 0}}}, 45 * DEG),
              (Spline{{{0, 0}, {2, 1}, {2, 1}, {2, 1}}}));
}

TEST(FitSplineToPath, WithoutSplicePointsCutsAtZeroAndHalfway) {
    const FloatPath path = regular_polygon(12, 30.0);
    const Spline spline = fit_spline_to_path(path, 400 * DEG);
    ASSERT_EQ(spline.points.size(), 7u);
    EXPECT_EQ(spline.points[0], path.points[0]);
    EXPECT_EQ(spline.points[3], path.points[6]);
    EXPECT_EQ(spline.points[6], path.points[0]);
}

TEST(FitSplineToPath, SingleSplicePointWrapsTheFirstRun) {
    // Vertices 0..6 lie straight between 9 and 7 (turn +0.0); 7, 8 and 9 turn
    // the other way, so only vertex 7 is flagged.
    std::vector<PointF> points;
    for (int x = 1; x <= 8; ++x) points.push_back({static_cast<double>(x), 0.0});
    points.push_back({4, -5});
    points.push_back({0, 0});
    const FloatPath path = closed_float_path(points);
    const VertexFlags flags = mark_splice_points(path, 100.0);
    VertexFlags expected(10, false);
    expected[7] = true;
    ASSERT_EQ(flags, expected);

    const Spline spline = fit_spline_to_path(path, 100.0);
    ASSERT_EQ(spline.points.size(), 7u);
    const std::vector<PointF> first_run{points[7], points[8], points[9], points[0], points[1], points[2]};
    const auto first = fit_segment(first_run);
    const std::vector<PointF> second_run(points.begin() + 2, points.begin() + 8);
    const auto second = fit_segment(second_run);
    const std::vector<PointF> expected_points{first[0], first[1], first[2], first[3], second[1], second[2], second[3]};
    EXPECT_EQ(spline.points, expected_points);
    EXPECT_EQ(spline.points[0], points[7]);
    EXPECT_EQ(spline.points[3], points[2]);
}

TEST(FitSplineToPath, SegmentsEndAtSplicePointsAndCloseTheChain) {
    const FloatPath path = regular_polygon(36, 100.0);
    const Spline spline = fit_spline_to_path(path, 45 * DEG);
    // Flags at 4, 9, ..., 34: seven segments.
    ASSERT_EQ(spline.points.size(), 1u + 3 * 7);
    expect_closed_chain(spline);
    for (std::size_t k = 0; k < 7; ++k) EXPECT_EQ(spline.points[3 * k], path.points[4 + 5 * k]);
    // Each segment stays close to the circle.
    for (const PointF p : spline.points) EXPECT_NEAR(norm(p), 100.0, 8.0);
}

TEST(FitSplineToMask, TracesSmoothsAndFits) {
    const BitRaster image = disk(40, 15.0);
    const Spline spline = fit_spline_to_mask(image, true, 60 * DEG, 8.0, 4.0, 10, 45 * DEG, nullptr);
    expect_closed_chain(spline);
    EXPECT_GE(spline.points.size(), 7u);
    // The curve's ends lie near the disk's rim.
    for (std::size_t i = 0; i < spline.points.size(); i += 3) {
        EXPECT_NEAR(norm(spline.points[i] - PointF{20.0, 20.0}), 15.0, 1.5);
    }
    // A hole traced anticlockwise gives a closed chain too.
    expect_closed_chain(fit_spline_to_mask(image, false, 60 * DEG, 8.0, 4.0, 10, 45 * DEG, nullptr));
}

TEST(FitSplineToMask, StopsOnZeroIterationsAndExhaustedBudget) {
    const BitRaster image = disk(40, 15.0);
    try {
        fit_spline_to_mask(image, true, 60 * DEG, 8.0, 4.0, 0, 45 * DEG, nullptr);
        FAIL() << "no stop";
    } catch (const InternalFailure& failure) {
        EXPECT_EQ(failure.message, "assertion failed: max_iterations > 0");
    }
    PointBudget budget{100000};
    EXPECT_THROW(fit_spline_to_mask(image, true, 60 * DEG, 8.0, 0.0, 1000, 45 * DEG, &budget), MemoryLimitExceeded);
    // The same outline at the defaults fits easily in a small budget, and charges it.
    PointBudget enough{100000};
    fit_spline_to_mask(image, true, 60 * DEG, 8.0, 4.0, 10, 45 * DEG, &enough);
    EXPECT_LT(enough.remaining, 100000u);
}
