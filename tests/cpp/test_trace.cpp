#include <gtest/gtest.h>

#include <random>
#include <string>
#include <variant>
#include <vector>

#include "bitmap_from_text.hpp"
#include "clusters/cluster.hpp"
#include "clusters/trace.hpp"
#include "clusters/trace_elements.hpp"
#include "failure.hpp"
#include "path/walker.hpp"

using namespace glyph;

namespace {

using Points = std::vector<PointI>;

std::vector<Points> traced(const BitRaster& image, PathMode mode, PointI offset = {0, 0}) {
    TraceParams params;
    params.mode = mode;
    std::vector<Points> result;
    for (const SubPath& sub : trace_image(image, offset, params).paths) {
        result.push_back(std::get<PixelPath>(sub).points);
    }
    return result;
}

std::string stop_message(const BitRaster& image) {
    try {
        traced(image, PathMode::None);
    } catch (const InternalFailure& failure) {
        return failure.message;
    }
    return "";
}

// Winding number of every pixel centre of a w x h area under the closed paths.
std::vector<int> winding(const std::vector<Points>& paths, std::size_t w, std::size_t h) {
    std::vector<int> wind(w * h, 0);
    for (const Points& path : paths) {
        for (std::size_t k = 0; k + 1 < path.size(); ++k) {
            const PointI p = path[k];
            const PointI q = path[k + 1];
            if (p.x != q.x) continue;
            const int sign = q.y > p.y ? 1 : -1;
            for (int y = std::min(p.y, q.y); y < std::max(p.y, q.y); ++y)
                for (int x = 0; x < p.x && x < static_cast<int>(w); ++x)
                    wind[static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x)] += sign;
        }
    }
    return wind;
}

TraceElements elements_by_runs(const BitRaster& image) { return find_trace_elements(RunMask::from_bits(image)); }

// (2w + 1) x (2h + 1) lattice of lines enclosing w * h one-pixel holes.
BitRaster lattice(std::size_t w, std::size_t h) {
    BitRaster image = BitRaster::create(2 * w + 1, 2 * h + 1);
    for (std::size_t y = 0; y < image.height; ++y)
        for (std::size_t x = 0; x < image.width; ++x)
            if (x % 2 == 0 || y % 2 == 0) image.set_pixel(x, y, true);
    return image;
}

}  // namespace

TEST(Trace, OutlinesAndHolesAsWalked) {
    struct Case {
        const char* picture;
        std::vector<Points> paths;
    };
    const std::vector<Case> cases = {
        {"X", {{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}}}},
        {"X./XX", {{{0, 0}, {1, 0}, {1, 1}, {2, 1}, {2, 2}, {0, 2}, {0, 0}}}},
        {"X../X../XXX", {{{0, 0}, {1, 0}, {1, 2}, {3, 2}, {3, 3}, {0, 3}, {0, 0}}}},
        {"..X/..X/XXX", {{{2, 0}, {3, 0}, {3, 3}, {0, 3}, {0, 2}, {2, 2}, {2, 0}}}},
        {"XXXXX", {{{0, 0}, {5, 0}, {5, 1}, {0, 1}, {0, 0}}}},
        {"X/X/X/X/X", {{{0, 0}, {1, 0}, {1, 5}, {0, 5}, {0, 0}}}},
        {"XX./XXX", {{{0, 0}, {2, 0}, {2, 1}, {3, 1}, {3, 2}, {0, 2}, {0, 0}}}},
        {"XXX/X.X/XXX",
         {{{0, 0}, {3, 0}, {3, 3}, {0, 3}, {0, 0}}, {{1, 1}, {1, 2}, {2, 2}, {2, 1}, {1, 1}}}},
        {"XXX/X.X/XXX/X.X/XXX",
         {{{0, 0}, {3, 0}, {3, 5}, {0, 5}, {0, 0}},
          {{1, 1}, {1, 2}, {2, 2}, {2, 1}, {1, 1}},
          {{1, 3}, {1, 4}, {2, 4}, {2, 3}, {1, 3}}}},
        // A hole meeting the outside at a corner: the outline goes round the filled hole.
        {"XXX/X.X/XX.",
         {{{0, 0}, {3, 0}, {3, 2}, {2, 2}, {2, 3}, {0, 3}, {0, 0}}, {{1, 1}, {1, 2}, {2, 2}, {2, 1}, {1, 1}}}},
        // Two holes meeting at a corner stay two holes.
        {".XXX/XX.X/X.XX/XXX.",
         {{{1, 0}, {4, 0}, {4, 3}, {3, 3}, {3, 4}, {0, 4}, {0, 1}, {1, 1}, {1, 0}},
          {{2, 1}, {2, 2}, {3, 2}, {3, 1}, {2, 1}},
          {{1, 2}, {1, 3}, {2, 3}, {2, 2}, {1, 2}}}},
        // The U-shaped hole starts before the dot, but the slot of its right
        // arm survives, and that was created after the dot's.
        {"XXXXXXXXX/X.X.X...X/X.XXX...X/X.XXX...X/X.......X/XXXXXXXXX",
         {{{0, 0}, {9, 0}, {9, 6}, {0, 6}, {0, 0}},
          {{3, 1}, {3, 2}, {4, 2}, {4, 1}, {3, 1}},
          {{1, 1}, {1, 5}, {8, 5}, {8, 1}, {5, 1}, {5, 4}, {2, 4}, {2, 1}, {1, 1}}}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.picture);
        EXPECT_EQ(traced(bitmap_from_text(c.picture), PathMode::None), c.paths);
    }
}

TEST(Trace, AnticlockwiseWalkAndEmptyImage) {
    EXPECT_EQ(outline_path(bitmap_from_text("X"), false, PathMode::None).points,
              (Points{{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}}));
    EXPECT_TRUE(outline_path(bitmap_from_text("../.."), true, PathMode::None).points.empty());

    const BitRaster bar = bitmap_from_text("XX");
    OutlineWalker walker(bar, {0, 0}, true);
    Points reported;
    while (auto v = walker.next_vertex()) reported.push_back(*v);
    EXPECT_EQ(reported, (Points{{0, 0}, {2, 0}, {2, 1}, {0, 1}, {0, 0}}));
    EXPECT_EQ(walker.steps(), 6u);
    EXPECT_FALSE(walker.next_vertex());
}

TEST(Trace, PolygonMode) {
    EXPECT_EQ(traced(bitmap_from_text("X"), PathMode::Polygon), (std::vector<Points>{{{0, 0}, {0, 0}}}));
    EXPECT_EQ(traced(bitmap_from_text("XX"), PathMode::Polygon), (std::vector<Points>{{{0, 0}, {2, 1}, {0, 0}}}));
}

TEST(Trace, OffsetsMoveEveryVertex) {
    BitRaster image = BitRaster::create(16, 26);
    const BitRaster ring = bitmap_from_text("XXX/X.X/XXX");
    for (std::size_t y = 0; y < 3; ++y)
        for (std::size_t x = 0; x < 3; ++x) image.set_pixel(10 + x, 20 + y, ring.get_pixel(x, y));
    const std::vector<Cluster> clusters = find_clusters(image);
    ASSERT_EQ(clusters.size(), 1u);
    TraceParams params;
    params.mode = PathMode::None;
    const CompoundPath shape = clusters[0].to_shape_path(params);
    ASSERT_EQ(shape.paths.size(), 2u);
    EXPECT_EQ(std::get<PixelPath>(shape.paths[0]).points,
              (Points{{10, 20}, {13, 20}, {13, 23}, {10, 23}, {10, 20}}));
    EXPECT_EQ(std::get<PixelPath>(shape.paths[1]).points,
              (Points{{11, 21}, {11, 22}, {12, 22}, {12, 21}, {11, 21}}));

    // Integer offsets wrap around in 32 bits.
    EXPECT_EQ(traced(bitmap_from_text("X"), PathMode::None, {2147483647, -5})[0][1], (PointI{-2147483648, -5}));
}

TEST(Trace, LongOutlinesStop) {
    const std::string stuck = "STUCK: shape should be broken down first without diagonally connected component";
    // A walk that finds no edge to go on stops instead of spinning.
    const BitRaster dot = bitmap_from_text("X");
    OutlineWalker lost(dot, {5, 5}, true);
    EXPECT_EQ(lost.next_vertex(), (PointI{5, 5}));
    try {
        lost.next_vertex();
        ADD_FAILURE() << "a walk without edges must stop";
    } catch (const InternalFailure& failure) {
        EXPECT_EQ(failure.message, stuck);
    }

    for (const bool horizontal : {true, false}) {
        SCOPED_TRACE(horizontal);
        const auto bar = [&](std::size_t length) {
            BitRaster image = horizontal ? BitRaster::create(length, 1) : BitRaster::create(1, length);
            for (std::size_t i = 0; i < length; ++i) image.set_bit(i, true);
            return image;
        };
        EXPECT_EQ(stop_message(bar(499'999)), "");  // exactly 1,000,000 unit edges
        EXPECT_EQ(stop_message(bar(500'000)), stuck);
    }
}

// The run-based hole search must give what clustering the inverted image
// pixel by pixel gives, including the order and the "overflow" stop.
TEST(Trace, HoleSearchMatchesClustering) {
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t w = 1 + random() % 14;
        const std::size_t h = 1 + random() % 14;
        const double density = 0.3 + 0.65 * (random() % 100) / 100.0;
        BitRaster image = BitRaster::create(w, h);
        for (std::size_t i = 0; i < w * h; ++i) image.set_bit(i, (random() % 1000) < density * 1000);
        SCOPED_TRACE(round);
        ASSERT_TRUE(elements_by_runs(image) == find_trace_elements_by_clustering(image));
    }
    const TraceElements many = elements_by_runs(lattice(302, 217));
    EXPECT_EQ(many.holes.size(), 65534u);
    EXPECT_TRUE(many == find_trace_elements_by_clustering(lattice(302, 217)));
    for (const auto& search : {elements_by_runs, find_trace_elements_by_clustering}) {
        try {
            search(lattice(255, 257));
            ADD_FAILURE() << "65,535 holes must overflow";
        } catch (const InternalFailure& failure) {
            EXPECT_EQ(failure.message, "overflow");
        }
    }
}

// Filling the traced outline and holes (nonzero rule) gives back exactly the
// pixels of each component; outlines run clockwise, holes anticlockwise.
TEST(Trace, TracedPathsCoverTheComponent) {
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        const std::size_t w = 1 + random() % 24;
        const std::size_t h = 1 + random() % 24;
        BitRaster image = BitRaster::create(w, h);
        for (std::size_t i = 0; i < w * h; ++i) image.set_bit(i, random() % 100 < 62);
        for (const Cluster& cluster : find_clusters(image)) {
            const BitRaster mask = cluster.to_mask();
            const std::vector<Points> paths = traced(mask, PathMode::None);
            ASSERT_FALSE(paths.empty());
            for (const Points& path : paths) {
                ASSERT_GE(path.size(), 5u);
                EXPECT_EQ(path.front(), path.back());
                for (std::size_t k = 0; k + 1 < path.size(); ++k) {
                    const bool horizontal = path[k].y == path[k + 1].y;
                    EXPECT_NE(horizontal, path[k].x == path[k + 1].x);
                    if (k > 0) {
                        EXPECT_NE(horizontal, path[k - 1].y == path[k].y);
                    }
                }
            }
            const std::vector<int> wind = winding(paths, mask.width, mask.height);
            for (std::size_t i = 0; i < wind.size(); ++i) {
                ASSERT_EQ(wind[i], mask.get_bit(i) ? 1 : 0) << "round " << round << " pixel " << i;
            }
        }
    }
}

// Pictures kept as runs read like their bits, however they were made.
TEST(Trace, RunMasksReadLikeBits) {
    std::mt19937 random(13);
    for (int round = 0; round < 300; ++round) {
        const std::size_t w = 1 + random() % 90;
        const std::size_t h = 1 + random() % 9;
        BitRaster image = BitRaster::create(w, h);
        for (std::size_t i = 0; i < w * h; ++i) image.set_bit(i, random() % 100 < (round % 2 ? 15 : 70));
        const RunMask mask = RunMask::from_bits(image);
        EXPECT_EQ(mask.to_bits().words, image.words);
        for (std::int32_t y = -1; y <= static_cast<std::int32_t>(h); ++y) {
            for (std::int32_t x = -2; x <= static_cast<std::int32_t>(w); ++x) {
                ASSERT_EQ(mask.get_pixel_or_false(x, y), image.get_pixel_or_false(x, y));
                ASSERT_EQ(mask.get_pixel_pair_or_false(x, y),
                          std::make_pair(image.get_pixel_or_false(x, y), image.get_pixel_or_false(x + 1, y)));
            }
        }
        for (const Cluster& cluster : find_clusters(image)) {
            ASSERT_TRUE(RunMask::from_points(cluster.points, cluster.rect) == RunMask::from_bits(cluster.to_mask()));
            // Both routes of a cluster to its shape give the same paths.
            TraceParams params;
            params.mode = round % 3 ? PathMode::None : PathMode::Polygon;
            const CompoundPath direct = trace_image(cluster.to_mask(), {cluster.rect.left, cluster.rect.top}, params);
            const CompoundPath sparse =
                trace_mask(RunMask::from_points(cluster.points, cluster.rect), {cluster.rect.left, cluster.rect.top}, params);
            ASSERT_EQ(direct.paths, sparse.paths);
            ASSERT_EQ(cluster.to_shape_path(params).paths, direct.paths);
        }
    }
    EXPECT_FALSE(RunMask::from_bits(bitmap_from_text("../..")).first_set_pixel());
    EXPECT_EQ(RunMask::from_bits(bitmap_from_text(".../.../..X")).first_set_pixel(), (PointI{2, 2}));
}
