#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "bitmap_from_text.hpp"
#include "path/simplify.hpp"
#include "clusters/cluster.hpp"
#include "clusters/trace.hpp"

using namespace glyph;

namespace {

using Points = std::vector<PointI>;

PixelPath path_of(Points points) { return PixelPath{std::move(points)}; }

// The penalty pruning exactly as it reads: every pending vertex is measured
// again for every new end vertex.
PixelPath prune_by_penalty_reference(const PixelPath& path) {
    const Points& p = path.points;
    const std::size_t n = p.size();
    PixelPath result;
    std::size_t last = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i == 0) {
            result.points.push_back(p[0]);
        } else if (i != last + 1) {
            const PointI a = p[last];
            const PointI b = p[i];
            const double base = corner_distance(a, b);
            double penalty = 0.0;
            for (std::size_t j = last + 1; j < i; ++j) {
                const PointI c = p[j];
                const double l1 = corner_distance(a, c);
                const double l2 = corner_distance(c, b);
                const double s = (l1 + l2 + base) * 0.5;
                const double h = ((s - l1) * s) * (s - l2) * (s - base);
                const double root = std::sqrt(h);
                const double term = (root * root) / base;
                if (!std::isnan(term) && term > penalty) penalty = term;
            }
            if (penalty >= 1.0) {
                result.points.push_back(p[i - 1]);
                last = i - 1;
            }
        }
        if (i + 1 == n) result.points.push_back(p[n - 1]);
    }
    return result;
}

// A digital straight edge from `from` with slope dy/dx traced as a
// staircase of corner vertices, then back along a parallel edge one pixel
// lower: a closed, very long and very thin outline.
Points staircase(PointI from, int dx, int dy, int steps, std::mt19937& random, int wobble) {
    Points out{from};
    PointI at = from;
    long long error = 0;
    for (int k = 0; k < steps; ++k) {
        error += dy;
        at.x += 1;
        out.push_back(at);
        if (2 * error >= dx || (wobble > 0 && static_cast<int>(random() % 1000) < wobble)) {
            error -= dx;
            at.y += 1;
            out.push_back(at);
        }
    }
    const std::size_t forward = out.size();
    at.y += 1;
    out.push_back(at);
    for (std::size_t k = forward - 1; k-- > 0;) out.push_back({out[k].x, out[k].y + 1});
    out.push_back(from);
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace

TEST(Simplify, StairStepsKeptAndDropped) {
    const Points square{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    EXPECT_EQ(drop_stair_steps(path_of(square), true).points, square);
    const Points bar{{0, 0}, {2, 0}, {2, 1}, {0, 1}, {0, 0}};
    EXPECT_EQ(drop_stair_steps(path_of(bar), true).points, bar);
    // Collinear next to a unit step: dropped; between two long steps: kept.
    EXPECT_EQ(drop_stair_steps(path_of({{0, 0}, {1, 0}, {2, 0}, {2, 2}, {0, 0}}), true).points,
              (Points{{0, 0}, {2, 0}, {2, 2}, {0, 0}}));
    EXPECT_EQ(drop_stair_steps(path_of({{0, 0}, {2, 0}, {4, 0}, {4, 3}, {0, 0}}), true).points,
              (Points{{0, 0}, {2, 0}, {4, 0}, {4, 3}, {0, 0}}));
    // A turn against the orientation next to a unit step is dropped.
    EXPECT_EQ(drop_stair_steps(path_of({{0, 0}, {3, 0}, {3, 1}, {4, 1}, {4, 4}, {0, 4}, {0, 0}}), true).points,
              (Points{{0, 0}, {3, 0}, {4, 1}, {4, 4}, {0, 4}, {0, 0}}));
    EXPECT_TRUE(drop_stair_steps(PixelPath{}, true).points.empty());

    // Reversing the list and the orientation keeps the same vertices.
    std::mt19937 random(3);
    for (int round = 0; round < 200; ++round) {
        Points p{{0, 0}};
        for (int k = 0; k < 30; ++k) {
            PointI q = p.back();
            (k % 2 ? q.y : q.x) += static_cast<int>(random() % 5) - 2;
            if (q != p.back()) p.push_back(q);
        }
        Points reversed(p.rbegin(), p.rend());
        Points forward = drop_stair_steps(path_of(p), true).points;
        Points backward = drop_stair_steps(path_of(reversed), false).points;
        std::reverse(backward.begin(), backward.end());
        EXPECT_EQ(forward, backward);
    }
}

TEST(Simplify, PenaltyExamples) {
    EXPECT_EQ(prune_by_penalty(path_of({{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}})).points, (Points{{0, 0}, {0, 0}}));
    // The term of (2,0) is exactly 1, enough to keep (2,1).
    EXPECT_EQ(prune_by_penalty(path_of({{0, 0}, {2, 0}, {2, 1}, {0, 1}, {0, 0}})).points,
              (Points{{0, 0}, {2, 1}, {0, 0}}));
    EXPECT_TRUE(prune_by_penalty(PixelPath{}).points.empty());
}

// The bounded evaluation must keep exactly the vertices the literal one keeps.
TEST(Simplify, PenaltyMatchesLiteralEvaluation) {
    std::mt19937 random(5);
    const auto check = [](const Points& p) {
        const PixelPath path = path_of(p);
        ASSERT_EQ(prune_by_penalty(path).points, prune_by_penalty_reference(path).points);
    };
    // Traced and unstepped outlines of random shapes.
    for (int round = 0; round < 300; ++round) {
        const std::size_t w = 2 + random() % 40;
        const std::size_t h = 2 + random() % 40;
        BitRaster image = BitRaster::create(w, h);
        const double cx = static_cast<double>(random() % w), cy = static_cast<double>(random() % h);
        const double r = 1.0 + static_cast<double>(random() % 20);
        for (std::size_t y = 0; y < h; ++y)
            for (std::size_t x = 0; x < w; ++x)
                image.set_pixel(x, y, std::hypot(x - cx, (y - cy) * 0.7) < r || random() % 17 == 0);
        for (const Cluster& cluster : find_clusters(image)) {
            if (cluster.size() < 4) continue;
            const std::vector<PixelPath> paths = trace_pixel_paths(cluster.to_mask(), PathMode::None);
            for (std::size_t k = 0; k < paths.size(); ++k) {
                check(paths[k].points);
                check(drop_stair_steps(paths[k], k == 0).points);
            }
        }
    }
    // Long thin outlines at random slopes, exact and with wobbles, far from
    // the origin and near the largest coordinates handled with integers.
    for (int round = 0; round < 60; ++round) {
        const int dx = 1 + static_cast<int>(random() % 50);
        const int dy = static_cast<int>(random() % 50);
        const int steps = 50 + static_cast<int>(random() % 1500);
        const int wobble = round % 3 == 0 ? 0 : static_cast<int>(random() % 20);
        const std::int32_t far = round % 4 == 0 ? (std::int32_t{1} << 25) - 4000 : static_cast<std::int32_t>(random() % 5000);
        const Points stairs = staircase({far, -far / 2}, dx, dy, steps, random, wobble);
        check(stairs);
        check(drop_stair_steps(path_of(stairs), true).points);
    }
    // Long edges where two skipped vertices lie equally far from the edge,
    // just under the tolerance exactly, while rounding puts one term above 1
    // and the other below: the bound must not decide these.
    int straddling = 0;
    for (std::int32_t x = 2000; x <= 11000; ++x) {
        for (std::int32_t y = 1; y <= 3; ++y) {
            const PointI b{x, y};
            const double base = corner_distance({0, 0}, b);
            const auto k = static_cast<std::int32_t>(std::floor(std::sqrt(4.0 * base)));
            if (k * k >= 4.0 * base || k * k / (4.0 * base) < 1.0 - 1e-7) continue;
            Points near;  // lattice points with cross product +-k, along the edge
            for (const int sign : {-1, 1}) {
                for (std::int32_t cy = 0; cy <= y; ++cy) {
                    const std::int64_t numerator = std::int64_t{x} * cy - sign * k;
                    if (numerator % y == 0 && numerator / y >= 0 && numerator / y <= x) {
                        near.push_back({static_cast<std::int32_t>(numerator / y), cy});
                    }
                }
            }
            bool above = false, below = false;
            for (const PointI c : near) {
                (penalty_term(corner_distance({0, 0}, c), corner_distance(c, b), base) >= 1.0 ? above : below) = true;
            }
            if (!above || !below) continue;
            ++straddling;
            for (const PointI c1 : near) {
                for (const PointI c2 : near) {
                    if (c1 != c2) check({{0, 0}, c1, c2, b, {x, y + 5}, {0, 0}});
                }
            }
        }
    }
    EXPECT_GT(straddling, 5);
    // Arbitrary vertex lists, including repeated and returning vertices and
    // coordinates beyond the integer bound.
    for (int round = 0; round < 2000; ++round) {
        const int spread = 1 + static_cast<int>(random() % 9);
        const std::int32_t shift = round % 5 == 0 ? 2000000000 : 0;
        Points p;
        const std::size_t n = random() % 40;
        for (std::size_t k = 0; k < n; ++k) {
            p.push_back({shift + static_cast<int>(random() % spread), static_cast<int>(random() % spread) - shift});
        }
        if (!p.empty() && random() % 2) p.push_back(p.front());
        check(p);
    }
}
