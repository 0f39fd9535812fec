#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <variant>
#include <vector>

#include "clusters/cluster.hpp"
#include "color_clusters/cluster.hpp"
#include "color_clusters/container.hpp"

using namespace glyph;

namespace {

// A cluster of the given pixels (x, y) of an image `width` wide.
ColorCluster cluster_of(std::uint32_t width, const std::vector<PointI>& points, Color color = Color{}) {
    ColorCluster cluster;
    for (const PointI& p : points) {
        cluster.add_pixel(static_cast<std::uint32_t>(p.y) * width + static_cast<std::uint32_t>(p.x), color, p.x, p.y);
    }
    cluster.remainder = cluster.sum;
    return cluster;
}

std::vector<PointI> block(std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h) {
    std::vector<PointI> points;
    for (std::int32_t y = top; y < top + h; ++y)
        for (std::int32_t x = left; x < left + w; ++x) points.push_back({x, y});
    return points;
}

std::uint32_t literal_edge_count(const ColorCluster& cluster, std::uint32_t width) {
    return static_cast<std::uint32_t>(cluster.to_mask(width, true).edge_pixels().size());
}

}  // namespace

TEST(ClusterView, RemainderColourTruncates) {
    ColorCluster cluster = cluster_of(4, {{0, 0}}, Color{0, 0, 0, 255});
    cluster.add_pixel(1, Color{1, 1, 1, 255}, 1, 0);
    cluster.remainder = cluster.sum;
    EXPECT_EQ(cluster.remainder_color(), (Color{0, 0, 0, 255}));
}

TEST(ClusterView, MaskWithAndWithoutHoles) {
    // A 4 x 3 block at (2, 1) in an image 10 wide, one hole pixel at (3, 2).
    ColorCluster cluster = cluster_of(10, block(2, 1, 4, 3));
    cluster.holes = {2 * 10 + 3};
    const BitRaster full = cluster.to_mask(10, false);
    ASSERT_EQ(full.width, 4u);
    ASSERT_EQ(full.height, 3u);
    EXPECT_TRUE(full.get_pixel(1, 1));
    const BitRaster hollow = cluster.to_mask(10, true);
    EXPECT_FALSE(hollow.get_pixel(1, 1));
    EXPECT_TRUE(hollow.get_pixel(0, 0));
    EXPECT_TRUE(hollow.get_pixel(3, 2));
}

TEST(ClusterView, EdgePixelCount) {
    EXPECT_EQ(cluster_of(7, {{3, 2}}).edge_pixel_count(7), 1u);
    for (auto [w, h] : {std::pair{2, 2}, {5, 3}, {9, 9}}) {
        EXPECT_EQ(cluster_of(20, block(1, 1, w, h)).edge_pixel_count(20), static_cast<std::uint32_t>(2 * w + 2 * h - 4));
    }
    // With holes left out, the pixels around a hollow layer count as boundary.
    ColorCluster ring = cluster_of(10, block(0, 0, 10, 10));
    for (const PointI& p : block(3, 3, 4, 4)) ring.holes.push_back(static_cast<std::uint32_t>(p.y * 10 + p.x));
    EXPECT_EQ(ring.edge_pixel_count(10), 36u + 16u);
    // A diagonal line spread over a wide rectangle: every pixel is boundary.
    std::vector<PointI> diagonal;
    for (std::int32_t i = 0; i < 3000; ++i) diagonal.push_back({i, i});
    EXPECT_EQ(cluster_of(3000, diagonal).edge_pixel_count(3000), 3000u);
}

TEST(ClusterView, EdgePixelCountMatchesTheMaskOnRandomClusters) {
    // Compact and thinly spread clusters, with and without holes.
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        const std::uint32_t width = round % 2 == 0 ? 40 : 900;
        const std::uint32_t height = round % 2 == 0 ? 30 : 700;
        const int spread = 1 + static_cast<int>(rng() % 3);
        std::vector<PointI> points;
        std::vector<bool> taken(std::size_t{width} * height, false);
        const int count = 1 + static_cast<int>(rng() % 400);
        for (int i = 0; i < count; ++i) {
            PointI p;
            if (spread == 1 || points.empty()) {
                p = {static_cast<std::int32_t>(rng() % width), static_cast<std::int32_t>(rng() % height)};
            } else {  // grow next to an earlier pixel so that interiors occur
                const PointI base = points[rng() % points.size()];
                p = {std::clamp<std::int32_t>(base.x + static_cast<std::int32_t>(rng() % 3) - 1, 0, static_cast<std::int32_t>(width) - 1),
                     std::clamp<std::int32_t>(base.y + static_cast<std::int32_t>(rng() % 3) - 1, 0, static_cast<std::int32_t>(height) - 1)};
            }
            const std::size_t index = static_cast<std::size_t>(p.y) * width + static_cast<std::size_t>(p.x);
            if (taken[index]) continue;
            taken[index] = true;
            points.push_back(p);
        }
        ColorCluster cluster = cluster_of(width, points);
        for (std::uint32_t p : cluster.pixels)
            if (rng() % 6 == 0) cluster.holes.push_back(p);
        EXPECT_EQ(cluster.edge_pixel_count(width), literal_edge_count(cluster, width)) << "round " << round;
    }
}

TEST(ClusterView, PaintImageInVisitingOrder) {
    // Background 4 x 2 in grey, a layer of its two right pixels in blue,
    // emitted first so that it is visited last and lies on top.
    ClusterSet set;
    set.image = RgbaRaster::create(4, 2);
    set.width = 4;
    set.height = 2;
    const ColorCluster layer = cluster_of(4, {{3, 0}, {3, 1}}, Color{0, 0, 255, 255});
    const ColorCluster background = cluster_of(4, block(0, 0, 4, 2), Color{90, 90, 90, 255});
    set.keep(1, layer);
    set.keep(2, background);
    EXPECT_TRUE(set.cluster(0).pixels.empty());
    EXPECT_TRUE(set.cluster(3).pixels.empty());
    EXPECT_EQ(set.paint_image().pixels, RgbaRaster::create(4, 2).pixels);  // nothing emitted

    set.output_order = {1, 2};
    std::vector<std::uint32_t> visited;
    set.visit_emitted([&](std::uint32_t index, const ColorCluster&) { visited.push_back(index); });
    EXPECT_EQ(visited, (std::vector<std::uint32_t>{2, 1}));
    const RgbaRaster painted = set.paint_image();
    EXPECT_EQ(painted.get_pixel(0, 1), (Color{90, 90, 90, 255}));
    EXPECT_EQ(painted.get_pixel(3, 1), (Color{0, 0, 255, 255}));

    // Cluster 0 holding keyed pixels paints them in the key colour, and the
    // pixels that joined it through a keyed neighbour in their own average.
    const Color key{255, 0, 0, 255};
    set.image.set_pixel(0, 0, key);
    set.image.set_pixel(1, 0, Color{250, 3, 0, 255});
    set.image.set_pixel(1, 1, Color{252, 1, 2, 255});
    set.kept_indices.clear();
    set.kept_clusters.clear();
    set.keep(0, cluster_of(4, {{0, 0}, {1, 0}, {1, 1}}));
    set.keep(1, layer);
    set.keep(2, background);
    set.output_order = {0, 1, 2};
    set.keyed_cluster_color = key;
    const RgbaRaster keyed = set.paint_image();
    EXPECT_EQ(keyed.get_pixel(0, 0), key);
    EXPECT_EQ(keyed.get_pixel(1, 0), (Color{251, 2, 1, 255}));
    EXPECT_EQ(keyed.get_pixel(1, 1), (Color{251, 2, 1, 255}));
}

TEST(ClusterView, ShapePathTracesEachFourConnectedPiece) {
    // Pixels (1, 1) and (2, 2) touch only at a corner: two pieces, each at its own offset.
    const ColorCluster cluster = cluster_of(5, {{1, 1}, {2, 2}});
    const CompoundPath shape = cluster.to_shape_path(5, false, TraceParams{PathMode::None});
    ASSERT_EQ(shape.paths.size(), 2u);
    EXPECT_EQ(std::get<PixelPath>(shape.paths[0]).points,
              (std::vector<PointI>{{1, 1}, {2, 1}, {2, 2}, {1, 2}, {1, 1}}));
    EXPECT_EQ(std::get<PixelPath>(shape.paths[1]).points,
              (std::vector<PointI>{{2, 2}, {3, 2}, {3, 3}, {2, 3}, {2, 2}}));

    // A ring whose hole is a hollow layer: holes are left in unless asked out.
    ColorCluster ring = cluster_of(6, block(1, 1, 3, 3));
    ring.holes = {2 * 6 + 2};
    EXPECT_EQ(ring.to_shape_path(6, false, TraceParams{PathMode::None}).paths.size(), 1u);
    const CompoundPath hollow = ring.to_shape_path(6, true, TraceParams{PathMode::None});
    ASSERT_EQ(hollow.paths.size(), 2u);
    EXPECT_EQ(std::get<PixelPath>(hollow.paths[1]).points,
              (std::vector<PointI>{{2, 2}, {2, 3}, {3, 3}, {3, 2}, {2, 2}}));
    EXPECT_TRUE(ColorCluster{}.to_shape_path(6, false, TraceParams{PathMode::None}).paths.empty());
}
