#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bitmap_from_text.hpp"
#include "clusters/cluster.hpp"
#include "failure.hpp"

using namespace glyph;

namespace {

struct ExpectedCluster {
    std::vector<PointI> points;
    Rect rect;
};

struct ClusterCase {
    const char* name;
    const char* picture;
    std::vector<ExpectedCluster> clusters;
};

BitRaster tiled(std::string_view block, std::size_t copies_down) {
    const BitRaster one = bitmap_from_text(block);
    BitRaster image = BitRaster::create(one.width, one.height * copies_down);
    for (std::size_t c = 0; c < copies_down; ++c)
        for (std::size_t y = 0; y < one.height; ++y)
            for (std::size_t x = 0; x < one.width; ++x)
                if (one.get_pixel(x, y)) image.set_pixel(x, c * one.height + y, true);
    return image;
}

// The clustering as it reads: a 16-bit label per pixel, relabelled on every
// merge.
std::vector<Cluster> find_clusters_reference(const BitRaster& image) {
    const std::size_t w = image.width;
    std::vector<std::uint16_t> labels(w * image.height, 0);
    std::vector<Cluster> slots;
    std::uint32_t next = 0;
    const auto absorb = [&](std::uint16_t from, std::uint16_t into) {
        for (const PointI p : slots[from].points) labels[static_cast<std::size_t>(p.y) * w + static_cast<std::size_t>(p.x)] = into;
        slots[into].points.insert(slots[into].points.end(), slots[from].points.begin(), slots[from].points.end());
        slots[into].rect.union_with(slots[from].rect);
        slots[from] = {};
    };
    for (std::size_t y = 0; y < image.height; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            if (!image.get_pixel(x, y)) continue;
            const auto xi = static_cast<std::int32_t>(x);
            const auto yi = static_cast<std::int32_t>(y);
            const bool up = image.get_pixel_or_false(xi, yi - 1);
            const bool left = image.get_pixel_or_false(xi - 1, yi);
            std::uint16_t slot = 0;
            if (up && left) {
                const std::uint16_t u = labels[(y - 1) * w + x];
                const std::uint16_t l = labels[y * w + x - 1];
                slot = u;
                if (u != l) {
                    if (slots[l].size() > slots[u].size()) {
                        absorb(u, l);
                        slot = l;
                    } else {
                        absorb(l, u);
                        if (next > 0 && l == next - 1 && slots.size() == next) next = l;
                    }
                }
            } else if (up || left) {
                slot = up ? labels[(y - 1) * w + x] : labels[y * w + x - 1];
            } else {
                Cluster fresh{{{xi, yi}}, {xi, yi, xi + 1, yi + 1}};
                if (next < slots.size()) {
                    slots[next] = std::move(fresh);
                } else {
                    slots.push_back(std::move(fresh));
                }
                labels[y * w + x] = static_cast<std::uint16_t>(next);
                if (++next == 65535) throw InternalFailure("overflow", "");
                continue;
            }
            slots[slot].points.push_back({xi, yi});
            slots[slot].rect.include_pixel(xi, yi);
            labels[y * w + x] = slot;
        }
    }
    std::vector<Cluster> result;
    for (Cluster& c : slots)
        if (!c.points.empty()) result.push_back(std::move(c));
    return result;
}

std::string overflow_message(const BitRaster& image) {
    try {
        find_clusters(image);
    } catch (const InternalFailure& failure) {
        return failure.message;
    }
    return "";
}

}  // namespace

TEST(FindClusters, OrderPointsAndRects) {
    const std::vector<ClusterCase> cases = {
        {"empty", "../..", {}},
        {"zero size", "", {}},
        {"corner touch is no link", ".X/X.", {{{{1, 0}}, {1, 0, 2, 1}}, {{{0, 1}}, {0, 1, 1, 2}}}},
        {"up absorbed by larger left",
         "X.X/X.X/XXX",
         {{{{0, 0}, {0, 1}, {0, 2}, {1, 2}, {2, 0}, {2, 1}, {2, 2}}, {0, 0, 3, 3}}}},
        {"tie keeps the upper cluster", ".X/XX", {{{{1, 0}, {0, 1}, {1, 1}}, {0, 0, 2, 2}}}},
        {"ring", "XXX/X.X/XXX",
         {{{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}}, {0, 0, 3, 3}}}},
        {"surviving slot decides the order",
         "....X.X/XXXXX..",
         {{{{6, 0}}, {6, 0, 7, 1}}, {{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 0}, {4, 1}}, {0, 0, 5, 2}}}},
    };
    for (const ClusterCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Cluster> clusters = find_clusters(bitmap_from_text(c.picture));
        ASSERT_EQ(clusters.size(), c.clusters.size());
        for (std::size_t i = 0; i < clusters.size(); ++i) {
            EXPECT_EQ(clusters[i].points, c.clusters[i].points);
            EXPECT_EQ(clusters[i].rect, c.clusters[i].rect);
            EXPECT_EQ(clusters[i].size(), c.clusters[i].points.size());
        }
    }
}

TEST(FindClusters, SinglePixelAndMask) {
    BitRaster image = BitRaster::create(10, 10);
    image.set_pixel(4, 2, true);
    std::vector<Cluster> clusters = find_clusters(image);
    ASSERT_EQ(clusters.size(), 1u);
    EXPECT_EQ(clusters[0].rect, (Rect{4, 2, 5, 3}));
    const BitRaster single = clusters[0].to_mask();
    EXPECT_EQ(single.width, 1u);
    EXPECT_EQ(single.height, 1u);
    EXPECT_TRUE(single.get_pixel(0, 0));

    clusters = find_clusters(bitmap_from_text("...../...../...../...XX/...X."));
    ASSERT_EQ(clusters.size(), 1u);
    EXPECT_EQ(clusters[0].rect, (Rect{3, 3, 5, 5}));
    const BitRaster mask = clusters[0].to_mask();
    EXPECT_EQ(mask.words, bitmap_from_text("XX/X.").words);
    EXPECT_EQ(mask.width, 2u);
}

TEST(FindClusters, EmptyPicturesWithHugeSide) {
    EXPECT_TRUE(find_clusters(BitRaster::create(0, std::size_t{1} << 40)).empty());
    EXPECT_TRUE(find_clusters(BitRaster::create(std::size_t{1} << 40, 0)).empty());
}

// Slots are 16-bit: creating the 65,535th slot stops. A slot emptied right
// after it was created is handed out again, so it is counted once.
TEST(FindClusters, SlotLimitAndReuse) {
    BitRaster row = BitRaster::create(2 * 65534 - 1, 1);  // 65,534 isolated pixels
    for (std::size_t x = 0; x < row.width; x += 2) row.set_pixel(x, 0, true);
    EXPECT_EQ(find_clusters(row).size(), 65534u);
    BitRaster longer = BitRaster::create(2 * 65535 - 1, 1);
    for (std::size_t x = 0; x < longer.width; x += 2) longer.set_pixel(x, 0, true);
    EXPECT_EQ(overflow_message(longer), "overflow");

    BitRaster sparse = BitRaster::create(600, 500);  // 75,000 specks
    for (std::size_t y = 0; y < 500; y += 2)
        for (std::size_t x = 0; x < 600; x += 2) sparse.set_pixel(x, y, true);
    EXPECT_EQ(overflow_message(sparse), "overflow");

    // 40,000 blocks of two slots each. Where the left cluster ties with the
    // upper one it is absorbed and its slot reused; where it is larger it
    // absorbs the upper one and both slots stay used up.
    EXPECT_EQ(find_clusters(tiled(".X/XX/..", 40000)).size(), 40000u);
    EXPECT_EQ(overflow_message(tiled("..X/XXX/...", 40000)), "overflow");
}

TEST(FindClusters, MatchesPixelLabelling) {
    std::mt19937 random(17);
    for (int round = 0; round < 2000; ++round) {
        const std::size_t w = 1 + random() % 16;
        const std::size_t h = 1 + random() % 16;
        const unsigned density = 20 + random() % 75;
        BitRaster image = BitRaster::create(w, h);
        for (std::size_t i = 0; i < w * h; ++i) image.set_bit(i, random() % 100 < density);
        const std::vector<Cluster> fast = find_clusters(image);
        const std::vector<Cluster> reference = find_clusters_reference(image);
        ASSERT_EQ(fast.size(), reference.size()) << "round " << round;
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].points, reference[i].points) << "round " << round;
            ASSERT_EQ(fast[i].rect, reference[i].rect) << "round " << round;
        }
    }
    // Near the slot limit, where reuse decides whether the scan stops.
    for (const std::size_t blocks : {32766u, 32767u, 32768u}) {
        for (const char* block : {".X/XX/..", "..X/XXX/...", "X.X/XXX/..."}) {
            SCOPED_TRACE(block);
            const BitRaster image = tiled(block, blocks);
            std::string reference_outcome;
            std::size_t reference_count = 0;
            try {
                reference_count = find_clusters_reference(image).size();
            } catch (const InternalFailure& failure) {
                reference_outcome = failure.message;
            }
            EXPECT_EQ(overflow_message(image), reference_outcome);
            if (reference_outcome.empty()) {
                EXPECT_EQ(find_clusters(image).size(), reference_count);
            }
        }
    }
}
