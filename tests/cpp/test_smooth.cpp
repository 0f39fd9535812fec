#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "failure.hpp"
#include "path/smooth.hpp"
#include "path_fixtures.hpp"

using namespace glyph;
using glyph::test::closed_float_path;
using glyph::test::regular_polygon;

namespace {

constexpr double DEG60 = 60.0 / 180.0 * 3.141592653589793;
constexpr double DEG45 = 45.0 / 180.0 * 3.141592653589793;

PixelPath closed_pixel_path(std::vector<PointI> points) {
    points.push_back(points.front());
    return PixelPath{std::move(points)};
}

FloatPath to_float_path(const PixelPath& path) {
    FloatPath result;
    for (const PointI p : path.points) result.points.push_back(to_float(p));
    return result;
}


// An octagon-like outline with no corner at 60 degrees (every turn is 45).
const PixelPath OCTAGON = closed_pixel_path({{10, 0}, {20, 0}, {30, 10}, {30, 20}, {20, 30}, {10, 30}, {0, 20}, {0, 10}});

void expect_closed_with_flags(const SplitResult& r) {
    ASSERT_GE(r.path.points.size(), 2u);
    EXPECT_EQ(r.path.points.front(), r.path.points.back());
    EXPECT_EQ(r.corners.size(), r.path.points.size() - 1);
}

}  // namespace

TEST(MarkCorners, FlagsTurnsAtLeastAsSharpAsTheThreshold) {
    const PixelPath square = closed_pixel_path({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_EQ(mark_corners(square, DEG60), (VertexFlags{true, true, true, true}));
    // 45-degree turns are corners at 44 degrees and not at 60.
    EXPECT_EQ(mark_corners(OCTAGON, DEG60), VertexFlags(8, false));
    EXPECT_EQ(mark_corners(OCTAGON, 44.0 / 180.0 * 3.141592653589793), VertexFlags(8, true));
    // Straight vertices never are; a vertex turning the other way is by its absolute turn.
    const PixelPath notch = closed_pixel_path({{0, 0}, {5, 0}, {10, 0}, {10, 10}, {5, 5}, {0, 10}});
    EXPECT_EQ(mark_corners(notch, DEG60), (VertexFlags{true, false, true, true, true, true}));
}

TEST(MarkCorners, DegenerateAndHugePaths) {
    EXPECT_EQ(mark_corners(PixelPath{{{3, 4}}}, DEG60), VertexFlags{});
    // (p, p): the only edge has length zero, so its turn is not a number.
    EXPECT_EQ(mark_corners(PixelPath{{{3, 4}, {3, 4}}}, DEG60), VertexFlags{false});
    // Coordinate differences whose squares leave the 32-bit range.
    const PixelPath wide = closed_pixel_path({{0, 0}, {100000, 0}, {100000, 1}, {0, 1}});
    EXPECT_EQ(mark_corners(wide, DEG60), (VertexFlags{true, true, true, true}));
    const PixelPath extreme = closed_pixel_path(
        {{-2147483647, -2147483647}, {2147483647, -2147483647}, {2147483647, 2147483647}, {-2147483647, 2147483647}});
    EXPECT_EQ(mark_corners(extreme, DEG60), (VertexFlags{true, true, true, true}));
}

TEST(SplitLongEdges, ChoosesWhichEdgesToSplit) {
    struct Case {
        const char* name;
        std::vector<PointF> points;  // closed by the helper
        VertexFlags corners;
        double limit;
        std::vector<bool> split;  // per edge
    };
    const Case cases[] = {
        // Edges of exactly the limit stay; longer ones are split.
        {"at the limit", {{0, 0}, {4, 0}, {4, 4}, {0, 4}}, VertexFlags(4, false), 4.0, {false, false, false, false}},
        {"above the limit", {{0, 0}, {4, 0}, {4, 4}, {0, 4}}, VertexFlags(4, false), 3.99, {true, true, true, true}},
        // Edge 0 (length 5) follows an edge of length 10: 10 / 5 reaches 2.0.
        {"long neighbour before", {{0, 0}, {5, 0}, {5, 4}, {0, 10}}, VertexFlags(4, false), 4.0,
         {false, false, true, true}},
        // Just under twice as long does not protect the edge.
        {"neighbour not twice as long", {{0, 0}, {5, 0}, {5, 4}, {0, 9.99}}, VertexFlags(4, false), 4.0,
         {true, false, true, true}},
        // Between two corners an edge stays straight; one corner is not enough.
        {"corners", {{0, 0}, {8, 0}, {8, 8}, {0, 8}}, {true, true, false, false}, 4.0, {false, true, true, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FloatPath path = closed_float_path(c.points);
        const SplitResult r = split_long_edges(path, c.corners, 8.0, c.limit);
        expect_closed_with_flags(r);
        std::size_t out = 0;
        for (std::size_t i = 0; i < c.split.size(); ++i) {
            ASSERT_LT(out, r.path.points.size());
            EXPECT_EQ(r.path.points[out], path.points[i]);
            EXPECT_EQ(r.corners[out], c.corners[i]);
            out += 1;
            if (c.split[i]) {
                EXPECT_FALSE(r.corners[out]) << "edge " << i;
                out += 1;
            }
        }
        EXPECT_EQ(out + 1, r.path.points.size());
    }
}

TEST(SplitLongEdges, InsertsFourPointRuleWithCornersStandingIn) {
    // Without corners: 9/16 of the edge ends minus 1/16 of their outer neighbours.
    const FloatPath hexagon = closed_float_path({{0, 0}, {10, 0}, {15, 8}, {10, 16}, {0, 16}, {-5, 8}});
    const SplitResult smooth = split_long_edges(hexagon, VertexFlags(6, false), 8.0, 4.0);
    ASSERT_EQ(smooth.path.points.size(), 13u);
    const PointF inserted = smooth.path.points[1];
    EXPECT_NEAR(inserted.x, 9.0 / 16 * (0 + 10) - 1.0 / 16 * (-5 + 15), 1e-12);
    EXPECT_NEAR(inserted.y, 9.0 / 16 * (0 + 0) - 1.0 / 16 * (8 + 8), 1e-12);

    // With vertex 0 a corner it stands in for its outer neighbour: the bulge
    // is |mid - (P0 + P2) / 2| / 8 away from the middle, pointing away from it.
    VertexFlags corners(6, false);
    corners[0] = true;
    const SplitResult cornered = split_long_edges(hexagon, corners, 8.0, 4.0);
    const PointF mid{5.0, 0.0};
    const PointF outer{7.5, 4.0};
    const PointF expected = mid + normalize(mid - outer) * (norm(mid - outer) / 8.0);
    EXPECT_EQ(cornered.path.points[1], expected);

    // A straight edge between straight neighbours gets its exact middle.
    const FloatPath line = closed_float_path({{0, 0}, {10, 0}, {20, 0}, {30, 0}, {15, 1}});
    const SplitResult straight = split_long_edges(line, VertexFlags(5, false), 8.0, 4.0);
    EXPECT_EQ(straight.path.points[3], (PointF{15.0, 0.0}));
}

TEST(SplitLongEdges, ConvergesOnlyWhenNoHalfEdgeExceedsTheLimit) {
    const FloatPath square = closed_float_path({{0, 0}, {6, 0}, {6, 6}, {0, 6}});
    EXPECT_TRUE(split_long_edges(square, VertexFlags(4, false), 8.0, 4.0).converged);
    EXPECT_FALSE(split_long_edges(square, VertexFlags(4, false), 8.0, 2.9).converged);
    // Nothing inserted: converged.
    EXPECT_TRUE(split_long_edges(square, VertexFlags(4, false), 8.0, 6.0).converged);
    // The two-vertex loop (p, p) has one zero-length edge and never changes.
    const FloatPath dot{{{2, 3}, {2, 3}}};
    for (const double limit : {4.0, 0.0, -1.0}) {
        const SplitResult r = split_long_edges(dot, VertexFlags{false}, 8.0, limit);
        EXPECT_EQ(r.path, dot);
        EXPECT_EQ(r.corners, VertexFlags{false});
        EXPECT_TRUE(r.converged);
    }
}

TEST(SmoothOutline, CornersAndShortEdgesComeOutUnchanged) {
    const PixelPath square = closed_pixel_path({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_EQ(smooth_outline(square, DEG60, 8.0, 4.0, 10), to_float_path(square));
    const PixelPath small = closed_pixel_path({{0, 0}, {4, 0}, {4, 3}, {0, 3}});
    EXPECT_EQ(smooth_outline(small, 3.2, 8.0, 4.0, 10), to_float_path(small));
    EXPECT_EQ(smooth_outline(PixelPath{{{5, 5}, {5, 5}}}, DEG60, 8.0, 4.0, 10), (FloatPath{{{5, 5}, {5, 5}}}));
}

TEST(SmoothOutline, RunsPassesUntilConvergedOrTheBound) {
    // Each pass splits every edge of the octagon until half-edges fit the limit.
    const auto run = [](std::uint64_t max_iterations, double limit) {
        return smooth_outline(OCTAGON, DEG60, 8.0, limit, max_iterations);
    };
    EXPECT_EQ(run(1, 2.0).points.size(), 17u);  // one pass, although not converged
    EXPECT_EQ(run(2, 2.0).points.size(), 33u);
    EXPECT_EQ(run(10, 2.0).points.size(), 65u);  // converged after three passes
    EXPECT_EQ(run(10, 2.0), run(3, 2.0));
    EXPECT_EQ(run(10, 4.0), run(2, 4.0));
    const FloatPath smoothed = run(10, 2.0);
    ASSERT_EQ(smoothed.points.size(), 65u);
    EXPECT_EQ(smoothed.points.front(), smoothed.points.back());
    for (std::size_t i = 0; i + 1 < smoothed.points.size(); ++i) {
        EXPECT_LE(norm(smoothed.points[i + 1] - smoothed.points[i]), 2.0);
    }
    // The original vertices are all kept, every 8th point.
    for (std::size_t k = 0; k < OCTAGON.points.size(); ++k) {
        EXPECT_EQ(smoothed.points[8 * k], to_float(OCTAGON.points[k]));
    }
}

TEST(SmoothOutline, ZeroIterationsStop) {
    try {
        smooth_outline(OCTAGON, DEG60, 8.0, 4.0, 0);
        FAIL() << "no stop";
    } catch (const InternalFailure& failure) {
        EXPECT_EQ(failure.message, "assertion failed: max_iterations > 0");
    }
}

TEST(SmoothOutline, ChargesEveryPointToTheBudget) {
    // The exact points of the outline and of each pass are charged: 9 + 17 + 33 + 65.
    PointBudget budget{1000};
    smooth_outline(OCTAGON, DEG60, 8.0, 2.0, 10, &budget);
    EXPECT_EQ(budget.remaining, 1000u - (9 + 17 + 33 + 65));
    PointBudget exact{9 + 17 + 33 + 65};
    EXPECT_NO_THROW(smooth_outline(OCTAGON, DEG60, 8.0, 2.0, 10, &exact));
    EXPECT_EQ(exact.remaining, 0u);
    PointBudget short_by_one{9 + 17 + 33 + 64};
    EXPECT_THROW(smooth_outline(OCTAGON, DEG60, 8.0, 2.0, 10, &short_by_one), MemoryLimitExceeded);
}

TEST(SmoothOutline, BudgetEndsUnboundedSmoothing) {
    // With no length limit every pass doubles the outline and nothing converges.
    for (const double limit : {0.0, -1.0, 1e-300}) {
        PointBudget budget{1u << 20};
        EXPECT_THROW(smooth_outline(OCTAGON, DEG60, 8.0, limit, std::numeric_limits<std::uint64_t>::max(), &budget),
                     MemoryLimitExceeded);
    }
}

TEST(MarkSplicePoints, AccumulatedTurnReachesTheThreshold) {
    // Every vertex of a regular 36-gon turns by 10 degrees: flags every fifth.
    const VertexFlags flags = mark_splice_points(regular_polygon(36, 100.0), DEG45);
    ASSERT_EQ(flags.size(), 36u);
    for (std::size_t i = 0; i < 36; ++i) EXPECT_EQ(flags[i], i % 5 == 4) << i;
}

TEST(MarkSplicePoints, ChangesOfTurningDirection) {
    const double never = 100.0;  // no accumulated turn reaches it
    // Zigzag-free convex outline: no flags.
    EXPECT_EQ(mark_splice_points(regular_polygon(8, 10.0), never), VertexFlags(8, false));
    // Turns: -, -, 0, -, -; a zero turn counts as positive, so the vertex with
    // it and the next negative one are flagged.
    const FloatPath anticlockwise = closed_float_path({{0, 0}, {0, 10}, {5, 10}, {10, 10}, {10, 0}});
    EXPECT_EQ(mark_splice_points(anticlockwise, never), (VertexFlags{false, false, true, true, false}));
    // After a flag the accumulation restarts: turns of +90, +90, -90, ...
    const FloatPath notch = closed_float_path({{0, 0}, {10, 0}, {10, 10}, {5, 5}, {0, 10}});
    const VertexFlags with_threshold = mark_splice_points(notch, 2.5);
    // Turns +90, +90 (sum 180 degrees, flag), +135 (sum 135, none), -90 (new sign, flag), +135 (new sign, flag).
    EXPECT_EQ(with_threshold, (VertexFlags{false, true, false, true, true}));
}

TEST(MarkSplicePoints, DegeneratePaths) {
    EXPECT_EQ(mark_splice_points(FloatPath{{{1, 1}}}, DEG45), VertexFlags{});
    EXPECT_EQ(mark_splice_points(FloatPath{{{1, 1}, {1, 1}}}, DEG45).size(), 1u);
}

TEST(CorrectControlPoints, KeepsOrMovesControlPoints) {
    struct Case {
        const char* name;
        PointF s, a, b, e;
        PointF expected_a, expected_b;
    };
    const Case cases[] = {
        {"same turning direction", {0, 0}, {3, -3}, {7, -3}, {10, 0}, {3, -3}, {7, -3}},
        // S, A turn one way and A, B the other: both move to the crossing of S-A and B-E.
        {"crossing", {0, 0}, {-3, -3}, {-6, -3}, {10, 0}, {-30.0 / 13 * 1, -30.0 / 13}, {-30.0 / 13, -30.0 / 13}},
        // Lines numerically parallel (a tiny control arm) but not one line: kept.
        {"parallel", {0, 0}, {-3e-9, -3e-9}, {-6, -3}, {10, 0}, {-3e-9, -3e-9}, {-6, -3}},
        // All four on one line with a change of direction: the middle of S and A.
        {"collinear", {0, 0}, {-2, -3}, {2, 3}, {6, 9}, {-1, -1.5}, {-1, -1.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = correct_control_points(c.s, c.a, c.b, c.e);
        EXPECT_EQ(r[0], c.s);
        EXPECT_NEAR(r[1].x, c.expected_a.x, 1e-12);
        EXPECT_NEAR(r[1].y, c.expected_a.y, 1e-12);
        EXPECT_NEAR(r[2].x, c.expected_b.x, 1e-12);
        EXPECT_NEAR(r[2].y, c.expected_b.y, 1e-12);
        EXPECT_EQ(r[3], c.e);
    }
}

TEST(FitSegment, UsesTheRunEndsAndTheFirstCurve) {
    const std::vector<PointF> two{{0, 0}, {9, 3}};
    const auto straight = fit_segment(two);
    EXPECT_EQ(straight[0], two[0]);
    EXPECT_EQ(straight[3], two[1]);
    EXPECT_NEAR(straight[1].x, 3.0, 1e-12);
    EXPECT_NEAR(straight[2].y, 2.0, 1e-12);
    // A quarter circle: one segment, bulging outwards, ends exactly the run's.
    std::vector<PointF> arc;
    for (int d = 0; d <= 90; d += 5) {
        const double a = d * 3.141592653589793 / 180.0;
        arc.push_back({20.0 * std::cos(a), 20.0 * std::sin(a)});
    }
    const auto curved = fit_segment(arc);
    EXPECT_EQ(curved[0], arc.front());
    EXPECT_EQ(curved[3], arc.back());
    EXPECT_GT(curved[1].x + curved[1].y, 20.0);
    EXPECT_GT(curved[2].x + curved[2].y, 20.0);
    // Fewer than two points: four zero points.
    const std::vector<PointF> one{{4, 4}};
    for (const PointF p : fit_segment(one)) EXPECT_EQ(p, (PointF{0, 0}));
}
