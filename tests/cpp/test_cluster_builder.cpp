#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "color/color_total.hpp"
#include "color_clusters/builder.hpp"
#include "color_clusters/runner.hpp"
#include "converter/key_color.hpp"
#include "failure.hpp"

using namespace glyph;

namespace {

constexpr Color KEY{255, 0, 0, 255};

struct Config {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<Color> pixels;
    Color key{};
    std::uint32_t merge_area_limit = NO_MERGE_AREA_LIMIT;
    std::uint32_t pixels_per_step = 25600;
    bool diagonal_joining = false;
    bool discard_keyed = false;
    std::int32_t shift = 0;
    std::int32_t tolerance = 1;
    std::uint64_t min_layer_area = 0;
    std::uint64_t max_layer_area = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t max_hollow_neighbours = 1;
    std::int32_t min_layer_difference = 16;
};

RgbaRaster make_image(std::size_t width, std::size_t height, const std::vector<Color>& pixels) {
    RgbaRaster image = RgbaRaster::create(width, height);
    for (std::size_t i = 0; i < pixels.size(); ++i) image.set_pixel(i % width, i / width, pixels[i]);
    return image;
}

Config grey_config(std::size_t width, std::size_t height, const std::vector<int>& values) {
    Config config;
    config.width = width;
    config.height = height;
    for (int v : values) {
        const auto g = static_cast<std::uint8_t>(v);
        config.pixels.push_back({g, g, g, 255});
    }
    return config;
}

BuilderSettings builder_settings(const Config& c) {
    BuilderSettings s;
    s.image = make_image(c.width, c.height, c.pixels);
    s.transparent_key = c.key;
    s.merge_area_limit = c.merge_area_limit;
    s.pixels_per_step = c.pixels_per_step;
    s.diagonal_joining = c.diagonal_joining;
    s.discard_keyed = c.discard_keyed;
    s.same_color = make_same_color(c.shift, c.tolerance);
    s.color_difference = make_color_difference();
    s.emit_as_layer = make_emit_as_layer(c.min_layer_area, c.max_layer_area, c.min_layer_difference);
    s.treat_as_hole = make_treat_as_hole(c.max_hollow_neighbours);
    return s;
}

struct Outcome {
    ClusterSet set;
    std::vector<AreaLevel> levels_after_pixel_pass;
    std::vector<AreaLevel> final_levels;
};

// Counts the merges at which the builder's boundary count of the cluster
// being merged differs from the count taken from its mask.
int boundary_count_mismatches = 0;

Outcome build(const Config& c) {
    BuilderSettings settings = builder_settings(c);
    settings.emit_as_layer = [decide = std::move(settings.emit_as_layer)](
                                 const ClusterBuilder& builder, const ColorCluster& cluster,
                                 std::span<const MergeCandidate> candidates) {
        if (builder.edge_pixel_count(cluster) != cluster.edge_pixel_count(builder.width())) ++boundary_count_mismatches;
        return decide(builder, cluster, candidates);
    };
    ClusterBuilder builder(std::move(settings));
    Outcome out;
    bool pixel_pass_seen = false;
    while (!builder.step()) {
        if (!pixel_pass_seen && builder.stage() != BuildStage::PixelPass) {
            pixel_pass_seen = true;
            out.levels_after_pixel_pass = builder.area_levels();
        }
    }
    out.final_levels = builder.area_levels();
    out.set = std::move(builder).finish();
    return out;
}

// Clustering written exactly as the algorithm reads, slow on purpose: every
// area level visits every cluster index, and the boundary count builds the
// rectangle's mask. The fast builder must agree with it on everything.
struct Reference {
    Config c;
    bool revive_upleft_slot = true;  // the lost-pixel mend
    bool keep_keyed_cluster = true;  // the transparent-pixels mend

    std::uint32_t w = 0, h = 0, n = 0;
    RgbaRaster image;
    std::vector<ColorCluster> clusters{1};
    std::vector<std::uint32_t> owner;
    std::vector<AreaLevel> levels;
    std::vector<AreaLevel> levels_after_pixel_pass;
    std::vector<std::uint32_t> output;
    std::uint32_t next_slot = 1;
    SameColor same;
    ColorDifference difference = make_color_difference();
    bool keying = false;

    explicit Reference(Config config) : c(std::move(config)) {}

    bool keyed(Color col) const { return keying && col == c.key; }
    std::uint32_t size(std::uint32_t k) const { return static_cast<std::uint32_t>(clusters[k].pixels.size()); }

    void merge_into(std::uint32_t from, std::uint32_t to) {
        for (std::uint32_t p : clusters[from].pixels) owner[p] = to;
        auto moved = clusters[from].pixels;
        clusters[to].pixels.insert(clusters[to].pixels.end(), moved.begin(), moved.end());
        clusters[from].pixels.clear();
        clusters[to].sum.add(clusters[from].sum);
        clusters[to].rect.union_with(clusters[from].rect);
        clusters[from].rect = Rect{};
        clusters[from].sum = ColorTotal{};
    }

    void absorb(std::uint32_t from, std::uint32_t to, bool layer, bool hollow) {
        if (!layer) {
            clusters[to].remainder.add(clusters[from].remainder);
            merge_into(from, to);
            return;
        }
        const auto pixels = clusters[from].pixels;
        const auto sum = clusters[from].sum;
        const auto rect = clusters[from].rect;
        merge_into(from, to);
        clusters[from].pixels = pixels;
        clusters[from].sum = sum;
        clusters[from].rect = rect;
        if (hollow) clusters[to].holes.insert(clusters[to].holes.end(), pixels.begin(), pixels.end());
    }

    std::vector<std::uint32_t> neighbours(std::uint32_t k) const {
        std::vector<std::uint32_t> found;
        const std::uint32_t own = owner[clusters[k].pixels[0]];
        for (std::uint32_t p : clusters[k].pixels) {
            const std::uint32_t x = p % w, y = p / w;
            std::vector<std::uint32_t> around;
            if (p >= w) around.push_back(p - w);
            if (y < h - 1) around.push_back(p + w);
            if (x > 0) around.push_back(p - 1);
            if (x < w - 1) around.push_back(p + 1);
            for (std::uint32_t q : around) {
                if (owner[q] != 0 && owner[q] != own) found.push_back(owner[q]);
            }
        }
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
        return found;
    }

    bool emit_as_layer(std::uint32_t k, const std::vector<MergeCandidate>& candidates) const {
        const std::uint64_t area = size(k);
        if (c.min_layer_area >= area) return false;
        if (area >= c.max_layer_area) return false;
        if (c.min_layer_area != 0 && clusters[k].to_mask(w, true).edge_pixels().size() >= area) return false;
        return candidates.front().difference > c.min_layer_difference;
    }

    void pixel_pass() {
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::int32_t x = static_cast<std::int32_t>(i % w), y = static_cast<std::int32_t>(i / w);
            auto pixel = [&](std::int32_t px, std::int32_t py) {
                return image.get_pixel(static_cast<std::size_t>(px), static_cast<std::size_t>(py));
            };
            const Color cur = pixel(x, y);
            const bool up_exists = y > 0, left_exists = x > 0, ul_exists = x > 0 && y > 0;
            const Color up = up_exists ? pixel(x, y - 1) : Color{};
            const Color left = left_exists ? pixel(x - 1, y) : Color{};
            const Color ul = ul_exists ? pixel(x - 1, y - 1) : Color{};
            std::uint32_t upC = y > 0 ? owner[i - w] : 0;
            std::uint32_t leftC = x > 0 ? owner[i - 1] : 0;
            const std::uint32_t ulC = (x > 0 && y > 0) ? owner[i - w - 1] : 0;
            if (leftC != upC && left_exists && up_exists && same(left, up) &&
                (c.diagonal_joining || (same(cur, left) && same(cur, up)))) {
                if (size(leftC) > size(upC)) {
                    merge_into(upC, leftC);
                    upC = leftC;
                } else {
                    merge_into(leftC, upC);
                    if (leftC == next_slot - 1 && clusters.size() == next_slot) next_slot = leftC;
                    leftC = upC;
                }
            }
            if (keyed(cur)) {
                if (!c.discard_keyed) clusters[0].add_pixel(i, cur, x, y);
                continue;
            }
            if (up_exists && ul_exists && same(cur, up) && same(cur, ul)) {
                owner[i] = upC;
                clusters[upC].add_pixel(i, cur, x, y);
            } else if (left_exists && ul_exists && same(cur, left) && same(cur, ul)) {
                owner[i] = leftC;
                clusters[leftC].add_pixel(i, cur, x, y);
            } else if (c.diagonal_joining && ul_exists && same(cur, ul)) {
                owner[i] = ulC;
                clusters[ulC].add_pixel(i, cur, x, y);
                if (revive_upleft_slot && ulC == next_slot && next_slot < clusters.size()) next_slot = ulC + 1;
            } else {
                ColorCluster fresh;
                fresh.add_pixel(i, cur, x, y);
                if (next_slot < clusters.size()) clusters[next_slot] = fresh;
                else clusters.push_back(fresh);
                owner[i] = next_slot;
                ++next_slot;
            }
        }
        for (auto& cl : clusters) cl.remainder = cl.sum;
        for (std::uint32_t k = 0; k < clusters.size(); ++k) {
            if (size(k) == 0) continue;
            auto it = std::find_if(levels.begin(), levels.end(), [&](const AreaLevel& l) { return l.area == size(k); });
            if (it == levels.end()) levels.push_back({size(k), 1});
            else ++it->count;
        }
        std::sort(levels.begin(), levels.end(), [](const AreaLevel& a, const AreaLevel& b) { return a.area < b.area; });
        levels_after_pixel_pass = levels;
    }

    void merge_pass() {
        if (levels.empty()) return;
        for (std::size_t cursor = 0;;) {
            const AreaLevel level = levels[cursor];
            if (level.count != 0) {
                for (std::uint32_t k = 0; k < clusters.size(); ++k) {
                    if (size(k) != level.area) continue;
                    if (level.area > c.merge_area_limit) {
                        output.push_back(k);
                        continue;
                    }
                    const bool keeps_keyed = keep_keyed_cluster && k == 0 && keying && !c.discard_keyed;
                    const Color color = clusters[k].sum.average();
                    std::vector<MergeCandidate> candidates;
                    for (std::uint32_t nb : neighbours(k)) {
                        candidates.push_back({nb, difference(color, clusters[nb].sum.average())});
                    }
                    if (candidates.empty()) {
                        if (cursor == levels.size() - 1 || (c.discard_keyed && keying) || keeps_keyed) output.push_back(k);
                        continue;
                    }
                    std::stable_sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
                        return std::int64_t{a.difference} * 65535 + a.index < std::int64_t{b.difference} * 65535 + b.index;
                    });
                    const std::uint32_t best = candidates[0].index;
                    bool layer = c.merge_area_limit == NO_MERGE_AREA_LIMIT && emit_as_layer(k, candidates);
                    if (keeps_keyed) layer = true;
                    const bool hollow = candidates.size() <= c.max_hollow_neighbours;
                    if (layer) output.push_back(k);
                    auto by_area = [](const AreaLevel& l, std::uint64_t a) { return l.area < a; };
                    auto old_level = std::lower_bound(levels.begin(), levels.end(), std::uint64_t{size(best)}, by_area);
                    --old_level->count;
                    absorb(k, best, layer, hollow);
                    const std::uint64_t grown = size(best);
                    auto at = std::lower_bound(levels.begin(), levels.end(), grown, by_area);
                    if (at != levels.end() && at->area == grown) ++at->count;
                    else levels.insert(at, {grown, 1});
                }
            }
            ++cursor;
            if (cursor == levels.size()) return;
        }
    }

    void run() {
        image = make_image(c.width, c.height, c.pixels);
        w = static_cast<std::uint32_t>(c.width);
        h = static_cast<std::uint32_t>(c.height);
        n = static_cast<std::uint32_t>(c.width * c.height);
        owner.assign(n, 0);
        same = make_same_color(c.shift, c.tolerance);
        keying = c.key != Color{0, 0, 0, 0};
        pixel_pass();
        if (c.merge_area_limit == 0) {
            std::vector<std::uint32_t> order;
            for (std::uint32_t k = 0; k < clusters.size(); ++k)
                if (size(k) != 0) order.push_back(k);
            std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
                return std::uint64_t{size(a)} * 65535 + a < std::uint64_t{size(b)} * 65535 + b;
            });
            output = order;
            return;
        }
        merge_pass();
    }
};

// Every pixel that has an owner is listed by that owner (keyed pixels left
// out of all clusters are owned by 0 and listed nowhere).
template <class Lookup>
void expect_owners_list_their_pixels(const Lookup& cluster, const std::vector<std::uint32_t>& owner,
                                     const std::string& label) {
    for (std::uint32_t p = 0; p < owner.size(); ++p) {
        const auto& listed = cluster(owner[p]).pixels;
        const bool found = std::find(listed.begin(), listed.end(), p) != listed.end();
        if (owner[p] == 0 && !found) continue;
        EXPECT_TRUE(found) << label << ": pixel " << p << " owned by " << owner[p] << " that does not list it";
    }
}

// The pixels of cluster k, ascending: a cluster's pixels are a set.
std::vector<std::uint32_t> pixels_of(const ClusterSet& set, std::uint32_t k) {
    std::vector<std::uint32_t> pixels = set.cluster(k).pixels;
    std::sort(pixels.begin(), pixels.end());
    return pixels;
}

std::vector<std::uint32_t> sorted(std::vector<std::uint32_t> values) {
    std::sort(values.begin(), values.end());
    return values;
}

auto lookup(const ClusterSet& set) {
    return [&set](std::uint32_t k) -> const ColorCluster& { return set.cluster(k); };
}

// Builds again with a layer sink that reads every layer as it is emitted:
// those layers, together with what finish() keeps, make up `plain`.
// Returns the number of layers the sink was told about.
std::size_t expect_sink_agrees(const Config& c, const ClusterSet& plain, const std::string& label) {
    BuilderSettings settings = builder_settings(c);
    std::vector<std::pair<std::uint32_t, ColorCluster>> layers;
    settings.on_layer = [&](EmittedLayer layer) {
        layers.emplace_back(layer.index, std::move(layer.cluster));
        // A used buffer now and then, with content that must not show.
        return layers.size() % 2 == 0 ? std::vector<std::uint32_t>{1, 2, 3} : std::vector<std::uint32_t>{};
    };
    ClusterBuilder builder(std::move(settings));
    while (!builder.step()) {
    }
    const ClusterSet rest = std::move(builder).finish();
    EXPECT_EQ(rest.output_order, plain.output_order) << label;
    EXPECT_EQ(rest.pixel_owner, plain.pixel_owner) << label;
    auto expect_same = [&](const ColorCluster& a, const ColorCluster& b, std::uint32_t k) {
        EXPECT_EQ(sorted(a.pixels), sorted(b.pixels)) << label << " cluster " << k;
        EXPECT_EQ(sorted(a.holes), sorted(b.holes)) << label << " cluster " << k;
        EXPECT_EQ(a.rect, b.rect) << label << " cluster " << k;
        EXPECT_EQ(a.sum, b.sum) << label << " cluster " << k;
        EXPECT_EQ(a.remainder, b.remainder) << label << " cluster " << k;
    };
    for (auto& [k, layer] : layers) {
        EXPECT_TRUE(rest.cluster(k).pixels.empty()) << label << " layer " << k << " kept twice";
        expect_same(layer, plain.cluster(k), k);
    }
    for (std::size_t i = 0; i < rest.kept_indices.size(); ++i) {
        expect_same(rest.kept_clusters[i], plain.cluster(rest.kept_indices[i]), rest.kept_indices[i]);
    }
    EXPECT_EQ(rest.kept_clusters.size() + layers.size(), plain.kept_clusters.size()) << label;
    return layers.size();
}

}  // namespace

TEST(ClusterBuilder, SmallPicturesByHand) {
    {  // 1 x 1: one cluster at index 1, alone and at the last level
        const Outcome out = build(grey_config(1, 1, {7}));
        EXPECT_EQ(out.levels_after_pixel_pass, (std::vector<AreaLevel>{{1, 1}}));
        EXPECT_EQ(out.set.output_order, (std::vector<std::uint32_t>{1}));
        EXPECT_EQ(out.set.pixel_owner, (std::vector<std::uint32_t>{1}));
    }
    {  // uniform 3 x 3: the corner pixel stays alone after the pass and is absorbed
        const Outcome out = build(grey_config(3, 3, std::vector<int>(9, 50)));
        EXPECT_EQ(out.levels_after_pixel_pass, (std::vector<AreaLevel>{{1, 1}, {8, 1}}));
        EXPECT_EQ(out.set.output_order, (std::vector<std::uint32_t>{2}));
        EXPECT_EQ(out.set.pixel_owner, std::vector<std::uint32_t>(9, 2));
        EXPECT_EQ(out.set.cluster(2).remainder_color(), (Color{50, 50, 50, 255}));
        EXPECT_TRUE(out.set.cluster(1).pixels.empty());
    }
    {  // one pixel wide: one cluster per pixel after the pass, joined by area
        const Outcome out = build(grey_config(1, 4, {9, 9, 9, 9}));
        EXPECT_EQ(out.levels_after_pixel_pass, (std::vector<AreaLevel>{{1, 4}}));
        EXPECT_EQ(out.final_levels, (std::vector<AreaLevel>{{1, 3}, {2, 0}, {3, 0}, {4, 1}}));
        EXPECT_EQ(out.set.output_order, (std::vector<std::uint32_t>{2}));
        EXPECT_EQ(pixels_of(out.set, 2), (std::vector<std::uint32_t>{0, 1, 2, 3}));
    }
}

TEST(ClusterBuilder, EmptyPictureFinishesInThreeSteps) {
    for (auto [width, height] : {std::pair<std::size_t, std::size_t>{0, 0}, {5, 0}, {0, 7}}) {
        Config config;
        config.width = width;
        config.height = height;
        ClusterBuilder builder(builder_settings(config));
        EXPECT_FALSE(builder.step());
        EXPECT_FALSE(builder.step());
        EXPECT_TRUE(builder.step());
        EXPECT_TRUE(builder.step());
        const ClusterSet set = std::move(builder).finish();
        EXPECT_EQ(set.slot_count, 1u);
        EXPECT_TRUE(set.kept_clusters.empty());
        EXPECT_TRUE(set.output_order.empty());
        EXPECT_TRUE(set.paint_image().pixels.empty());
    }
    Config no_merge;
    no_merge.merge_area_limit = 0;
    ClusterBuilder builder(builder_settings(no_merge));
    EXPECT_FALSE(builder.step());
    EXPECT_TRUE(builder.step());
}

TEST(ClusterBuilder, MergeAreaLimitZeroEmitsEveryClusterByAreaThenIndex) {
    struct Case {
        std::size_t width, height;
        std::vector<int> values;
        std::vector<std::uint32_t> expected;
    };
    const Case cases[] = {
        {3, 3, std::vector<int>(9, 50), {1, 2}},
        // Slots 3 and 4 are emptied on the way and slot 4 is reused twice;
        // the lone pixel (99) ends in slot 4, before the larger cluster 2.
        {3, 3, {50, 50, 50, 50, 50, 50, 50, 50, 99}, {1, 4, 2}},
        // No pixel of these rows matches its up-left neighbour.
        {3, 2, {10, 200, 10, 10, 200, 10}, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        Config config = grey_config(c.width, c.height, c.values);
        config.merge_area_limit = 0;
        const Outcome out = build(config);
        EXPECT_EQ(out.set.output_order, c.expected);
        for (const ColorCluster& cluster : out.set.kept_clusters) EXPECT_EQ(cluster.remainder, cluster.sum);
    }
}

TEST(ClusterBuilder, LayerWithHole) {
    // 10 x 10 white with a black 4 x 4 square at (3, 3).
    std::vector<int> values(100, 255);
    for (int y = 3; y < 7; ++y)
        for (int x = 3; x < 7; ++x) values[static_cast<std::size_t>(y * 10 + x)] = 0;
    Config config = grey_config(10, 10, values);
    config.min_layer_area = 4;
    config.max_layer_area = 100;
    const Outcome out = build(config);
    ASSERT_EQ(out.set.output_order.size(), 2u);
    const ColorCluster& square = out.set.cluster(out.set.output_order[0]);
    const ColorCluster& background = out.set.cluster(out.set.output_order[1]);
    EXPECT_EQ(square.pixels.size(), 16u);
    EXPECT_EQ(square.rect, (Rect{3, 3, 7, 7}));
    EXPECT_EQ(square.remainder_color(), (Color{0, 0, 0, 255}));
    EXPECT_EQ(background.pixels.size(), 100u);
    EXPECT_EQ(background.remainder_color(), (Color{255, 255, 255, 255}));
    EXPECT_EQ(background.remainder.count, 84u);
    std::vector<std::uint32_t> holes = background.holes;
    std::vector<std::uint32_t> square_pixels = square.pixels;
    std::sort(holes.begin(), holes.end());
    std::sort(square_pixels.begin(), square_pixels.end());
    EXPECT_EQ(holes, square_pixels);
    // Every pixel now belongs to the background, the layer keeps its list.
    EXPECT_EQ(out.set.pixel_owner, std::vector<std::uint32_t>(100, out.set.output_order[1]));
    // A square differing by no more than the layer difference (3 x 10 = 30)
    // is merged into the background instead and mixes into its colour.
    for (int& v : values)
        if (v == 0) v = 245;
    Config close = grey_config(10, 10, values);
    close.min_layer_area = 4;
    close.max_layer_area = 100;
    close.min_layer_difference = 30;
    const Outcome merged = build(close);
    ASSERT_EQ(merged.set.output_order.size(), 1u);
    const ColorCluster& only = merged.set.cluster(merged.set.output_order[0]);
    EXPECT_TRUE(only.holes.empty());
    EXPECT_EQ(only.remainder.count, 100u);
    EXPECT_EQ(only.remainder_color(), (Color{253, 253, 253, 255}));  // (84 x 255 + 16 x 245) / 100
}

TEST(ClusterBuilder, KeyedPixelsDiscardedOrCollectedInClusterZero) {
    // 6 x 4: keyed everywhere except a 2 x 2 island at (1, 1) and one pixel at (4, 1).
    const Color island{20, 40, 60, 255};
    Config config;
    config.width = 6;
    config.height = 4;
    config.pixels.assign(24, KEY);
    for (std::size_t i : {7u, 8u, 13u, 14u, 10u}) config.pixels[i] = island;
    config.key = KEY;
    config.min_layer_area = 16;
    config.max_layer_area = 24;
    config.min_layer_difference = 16;

    config.discard_keyed = true;  // keyed pixels belong to nobody; isolated clusters are emitted
    const Outcome discarded = build(config);
    EXPECT_EQ(discarded.set.output_order, (std::vector<std::uint32_t>{3, 2}));
    EXPECT_TRUE(discarded.set.cluster(0).pixels.empty());
    EXPECT_EQ(discarded.set.pixel_owner[0], 0u);
    EXPECT_EQ(pixels_of(discarded.set, 2).size(), 4u);
    EXPECT_FALSE(discarded.set.keyed_cluster_color.has_value());
    EXPECT_EQ(discarded.set.paint_image().get_pixel(0, 0), (Color{0, 0, 0, 0}));

    // Collected: the single pixel is isolated at a level that is not the last
    // and is left out then; cluster 0 always comes out, as a layer.
    config.discard_keyed = false;
    const Outcome collected = build(config);
    EXPECT_EQ(collected.set.output_order, (std::vector<std::uint32_t>{0, 2, 3}));
    EXPECT_EQ(collected.set.cluster(0).pixels.size(), 19u);
    ASSERT_TRUE(collected.set.keyed_cluster_color.has_value());
    const RgbaRaster painted = collected.set.paint_image();
    EXPECT_EQ(painted.pixels, make_image(6, 4, config.pixels).pixels);

    // Without that rule cluster 0 (all boundary, so no layer) is absorbed and
    // the keyed pixels come out in the island's colour.
    Reference literal(config);
    literal.keep_keyed_cluster = false;
    literal.run();
    EXPECT_EQ(std::count(literal.output.begin(), literal.output.end(), 0u), 0);
}

TEST(ClusterBuilder, RevivedUpLeftSlotKeepsItsPixel) {
    // This picture makes a pixel join, by the diagonal rule, the slot that the
    // merge just before it emptied and marked for reuse.
    const std::vector<int> rows = {1, 1, 2, 1, 1, 2, 2,  //
                                   2, 0, 3, 1, 0, 2, 0,  //
                                   2, 2, 1, 3, 0, 2, 1,  //
                                   2, 0, 0, 0, 3, 0, 1};
    std::vector<int> values;
    for (int v : rows) values.push_back(4 * v);
    Config config = grey_config(7, 4, values);
    config.shift = 2;  // the default colour precision: 4 v >> 2 = v, one step tolerated
    config.diagonal_joining = true;
    config.min_layer_difference = 0;
    config.merge_area_limit = 0;

    Reference unmended(config);
    unmended.revive_upleft_slot = false;
    unmended.run();
    std::size_t lost = 0;
    for (std::uint32_t p = 0; p < unmended.owner.size(); ++p) {
        const auto& listed = unmended.clusters[unmended.owner[p]].pixels;
        if (std::find(listed.begin(), listed.end(), p) == listed.end()) ++lost;
    }
    EXPECT_GT(lost, 0u) << "the picture no longer reaches the case";

    const Outcome pass_only = build(config);
    expect_owners_list_their_pixels(lookup(pass_only.set), pass_only.set.pixel_owner, "after the pixel pass");
    std::size_t listed_total = 0;
    for (const ColorCluster& cluster : pass_only.set.kept_clusters) listed_total += cluster.pixels.size();
    EXPECT_EQ(listed_total, 28u);

    config.merge_area_limit = NO_MERGE_AREA_LIMIT;
    const Outcome merged = build(config);
    expect_owners_list_their_pixels(lookup(merged.set), merged.set.pixel_owner, "after the merge pass");
}

TEST(ClusterBuilder, EmittedClusterMergedAwayLaterKeepsItsColour) {
    // Keyed pixels discarded: a cluster walled in by keyed pixels and by
    // pixels that joined cluster 0 through them is emitted, alone, at its
    // level; cluster 0 later merges into it, and the grown cluster is merged
    // away. It stays emitted, without pixels, with the remainder it had.
    const std::vector<Color> picture = {
        {255,0,255,0}, {255,0,255,0}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {134,255,0,0},
        {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {255,0,2,84}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84},
        {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84},
        {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84},
        {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84},
        {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84}, {134,255,0,0}, {255,0,2,84},
        {255,0,2,84}, {255,0,2,84}, {255,0,2,84}, {255,0,255,0}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255},
        {255,255,255,255}, {255,255,255,255}, {255,0,255,0}, {255,0,255,0}, {255,0,255,0}, {255,0,255,0}, {255,0,255,0}, {255,0,255,0},
        {255,0,255,0}, {255,0,255,0}, {255,0,2,84}, {255,255,255,255}, {255,0,255,0}, {255,0,255,0}, {255,255,255,255}, {255,255,255,255},
        {255,255,255,255}, {255,255,255,255}, {255,0,255,0}, {255,0,255,0}, {255,255,255,255}, {255,255,255,255}, {255,0,2,84}, {255,255,255,255},
        {255,0,255,0}, {255,0,255,0}, {255,0,255,0}, {255,0,255,0}, {255,255,255,255}, {255,255,255,255}, {255,0,255,0}, {255,0,255,0},
        {255,255,255,255}, {255,255,255,255}, {255,0,255,0}, {255,0,255,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {255,255,255,255}, {255,255,255,255}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255},
        {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255},
        {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255},
        {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {255,255,255,255}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {134,255,0,0}, {134,255,0,0}, {255,255,255,255}, {255,255,255,255}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0}, {134,255,0,0},
        {134,255,0,0}, {134,255,0,0}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
        {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255}, {255,0,255,0}, {255,255,255,255},
    };
    Config config;
    config.width = 16;
    config.height = 16;
    config.key = std::get<Color>(pixmorf::pick_key_color(make_image(16, 16, picture)));
    for (Color p : picture) config.pixels.push_back(p.a == 0 ? config.key : p);
    config.discard_keyed = true;
    config.shift = 2;
    config.min_layer_area = 16;
    config.max_layer_area = 256;
    Reference literal(config);
    literal.run();
    const Outcome fast = build(config);
    ASSERT_EQ(fast.set.output_order, literal.output);
    std::size_t emptied = 0;
    for (std::uint32_t k : literal.output) {
        const ColorCluster* kept = fast.set.find(k);
        ASSERT_NE(kept, nullptr) << k;
        EXPECT_EQ(kept->remainder, literal.clusters[k].remainder) << k;
        if (kept->pixels.empty()) {
            ++emptied;
            EXPECT_GT(kept->remainder.count, 0u) << k;
        }
    }
    EXPECT_GT(emptied, 0u) << "the picture no longer reaches the case";
}

TEST(ClusterBuilder, CandidateKeyMixesDifferenceAndIndex) {
    // Two rows of pixels that never match: every pixel is a cluster of its
    // own, index = pixel index + 1. Pixel (0, 0) has the neighbours 2 (to the
    // right, difference 1) and width + 1 (below, difference 0). The key
    // difference x 65535 + index ranks 2 first for width 65540 (65537 against
    // 65541); for width 65536 both keys are 65537 and the ascending neighbour
    // order decides. Ranking by difference alone would choose the pixel below.
    for (std::size_t width : {65540u, 65536u}) {
        Config config;
        config.width = width;
        config.height = 2;
        config.pixels.assign(2 * width, Color{10, 10, 10, 255});
        config.pixels[1] = Color{11, 10, 10, 255};
        BuilderSettings settings = builder_settings(config);
        settings.same_color = [](Color, Color) { return false; };
        settings.emit_as_layer = [](const ClusterBuilder&, const ColorCluster&, std::span<const MergeCandidate>) {
            return false;
        };
        ClusterBuilder builder(std::move(settings));
        while (builder.stage() == BuildStage::PixelPass) builder.step();
        EXPECT_EQ(builder.neighbours(1), (std::vector<std::uint32_t>{2, static_cast<std::uint32_t>(width + 1)}));
        builder.step();  // the first merge step visits level 1 only
        EXPECT_EQ(builder.pixel_owner()[0], 2u) << width;
    }
}

TEST(ClusterBuilder, SlicingDoesNotChangeTheResult) {
    std::vector<int> values;
    std::mt19937 rng(7);
    for (int i = 0; i < 23 * 17; ++i) values.push_back(static_cast<int>(rng() % 3) * 60);
    Config config = grey_config(23, 17, values);
    config.min_layer_area = 2;
    const Outcome whole = build(config);
    for (std::uint32_t slice : {0u, 1u, 7u, 391u}) {
        config.pixels_per_step = slice;
        const Outcome sliced = build(config);
        EXPECT_EQ(sliced.set.output_order, whole.set.output_order) << slice;
        EXPECT_EQ(sliced.set.pixel_owner, whole.set.pixel_owner) << slice;
    }
}

TEST(ClusterBuilder, MatchesLiteralReferenceOnRandomPictures) {
    std::mt19937 rng(20240611);
    auto pick = [&](auto... options) {
        const std::vector<std::common_type_t<decltype(options)...>> list{options...};
        return list[rng() % list.size()];
    };
    std::size_t sunk_layers = 0;
    for (int round = 0; round < 3000; ++round) {
        Config c;
        c.width = rng() % 13;
        c.height = rng() % 13;
        if (round % 10 == 0) {
            c.width = 20 + rng() % 20;
            c.height = 20 + rng() % 20;
        }
        if (round % 250 == 0) {  // long level lists, large clusters
            c.width = 80 + rng() % 40;
            c.height = 60 + rng() % 40;
        }
        // A few base colours and near variants, painted as noise or as rectangles.
        std::vector<Color> palette;
        const int base_count = 2 + static_cast<int>(rng() % 4);
        for (int b = 0; b < base_count; ++b) {
            Color col{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                      static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(pick(255, 255, 128, 0))};
            palette.push_back(col);
            Color near = col;
            near.r = static_cast<std::uint8_t>(near.r + rng() % 5);
            near.b = static_cast<std::uint8_t>(near.b - rng() % 3);
            palette.push_back(near);
        }
        const std::size_t count = c.width * c.height;
        c.pixels.assign(count, palette[0]);
        if (rng() % 2 == 0) {
            for (auto& p : c.pixels) p = palette[rng() % palette.size()];
        } else if (count > 0) {
            const int rects = 1 + static_cast<int>(rng() % 6);
            for (int r = 0; r < rects; ++r) {
                const std::size_t x0 = rng() % c.width, y0 = rng() % c.height;
                const std::size_t x1 = x0 + 1 + rng() % (c.width - x0), y1 = y0 + 1 + rng() % (c.height - y0);
                const Color col = palette[rng() % palette.size()];
                for (std::size_t y = y0; y < y1; ++y)
                    for (std::size_t x = x0; x < x1; ++x) c.pixels[y * c.width + x] = col;
            }
        }
        if (rng() % 3 == 0) {
            c.key = KEY;
            for (auto& p : c.pixels)
                if (rng() % 5 == 0) p = KEY;
            if (rng() % 4 == 0)  // colours close to the key join it through the shift
                for (auto& p : c.pixels)
                    if (rng() % 7 == 0) p = Color{253, 2, 1, 255};
        }
        c.merge_area_limit = pick(NO_MERGE_AREA_LIMIT, NO_MERGE_AREA_LIMIT, 0u, 3u, 64u);
        c.pixels_per_step = pick(1u, 5u, 25600u);
        c.diagonal_joining = rng() % 2 == 0;
        c.discard_keyed = rng() % 2 == 0;
        c.shift = pick(-1, 0, 0, 1, 2, 3);
        c.tolerance = pick(0, 1, 1, 2);
        c.min_layer_area = pick(0u, 0u, 1u, 2u, 4u, 16u);
        c.max_layer_area = pick(std::uint64_t{count}, std::uint64_t{count}, std::uint64_t{1000000});
        c.max_hollow_neighbours = pick(0u, 1u, 1u, 2u);
        c.min_layer_difference = pick(0, 0, 5, 16, 100);

        Reference literal(c);
        literal.run();
        const Outcome fast = build(c);
        const std::string label = "round " + std::to_string(round);
        ASSERT_EQ(fast.set.output_order, literal.output) << label;
        ASSERT_EQ(fast.set.pixel_owner, literal.owner) << label;
        ASSERT_EQ(fast.levels_after_pixel_pass, literal.levels_after_pixel_pass) << label;
        ASSERT_EQ(fast.final_levels, literal.levels) << label;
        ASSERT_EQ(fast.set.slot_count, literal.clusters.size()) << label;
        for (std::uint32_t k = 0; k < literal.clusters.size(); ++k) {
            const ColorCluster& a = fast.set.cluster(k);
            const ColorCluster& b = literal.clusters[k];
            ASSERT_EQ(sorted(a.pixels), sorted(b.pixels)) << label << " cluster " << k;
            // An emptied slot keeps nothing of interest, unless it was emitted.
            const bool emitted = std::find(literal.output.begin(), literal.output.end(), k) != literal.output.end();
            if (b.pixels.empty() && !emitted) continue;
            ASSERT_NE(fast.set.find(k), nullptr) << label << " cluster " << k;
            ASSERT_EQ(sorted(a.holes), sorted(b.holes)) << label << " cluster " << k;
            ASSERT_EQ(a.rect, b.rect) << label << " cluster " << k;
            ASSERT_EQ(a.sum, b.sum) << label << " cluster " << k;
            ASSERT_EQ(a.remainder, b.remainder) << label << " cluster " << k;
        }
        expect_owners_list_their_pixels(lookup(fast.set), fast.set.pixel_owner, label);
        if (round % 4 == 0) sunk_layers += expect_sink_agrees(c, fast.set, label);
    }
    EXPECT_GT(sunk_layers, 100u);
    EXPECT_EQ(boundary_count_mismatches, 0);
}

TEST(ClusterRunner, ShiftOfEightOrMoreStopsBeforeAnyWork) {
    for (std::int32_t shift : {8, 9, std::numeric_limits<std::int32_t>::max()}) {
        RunSettings settings;
        settings.image = RgbaRaster::create(2, 2);
        settings.is_same_color_a = shift;
        try {
            (void)ClusterRunner::run(std::move(settings));
            ADD_FAILURE() << "no stop for " << shift;
        } catch (const InternalFailure& failure) {
            EXPECT_EQ(failure.message, "assertion failed: is_same_color_a < 8");
        }
    }
}

TEST(ClusterRunner, NegativeShiftActsThroughItsLowBits) {
    const SameColor minus_one = make_same_color(-1, 1);  // shift 7: any two colours match
    EXPECT_TRUE(minus_one(Color{0, 0, 0, 255}, Color{255, 255, 255, 0}));
    const SameColor exact = make_same_color(0, 1);
    EXPECT_TRUE(exact(Color{10, 10, 10, 0}, Color{11, 9, 10, 255}));
    EXPECT_FALSE(exact(Color{10, 10, 10, 0}, Color{12, 10, 10, 0}));
    const SameColor two = make_same_color(2, 1);  // top six bits, one step apart
    EXPECT_TRUE(two(Color{0, 0, 0, 0}, Color{7, 7, 7, 0}));
    EXPECT_FALSE(two(Color{0, 0, 0, 0}, Color{8, 0, 0, 0}));
    EXPECT_EQ(make_color_difference()(Color{0, 10, 255, 0}, Color{255, 0, 0, 255}), 520);

    // A black and white picture is one colour under shift 7.
    RunSettings settings;
    settings.image = make_image(2, 2, {{0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}});
    settings.is_same_color_a = -1;
    settings.min_layer_area = 16;
    settings.max_layer_area = 4;
    const ClusterSet set = ClusterRunner::run(std::move(settings));
    ASSERT_EQ(set.output_order.size(), 1u);
    EXPECT_EQ(set.cluster(set.output_order[0]).remainder_color(), (Color{127, 127, 127, 255}));
}

TEST(ClusterRunner, LayerDecisions) {
    ColorCluster solid;  // 3 x 3 block: 8 boundary pixels, 9 pixels
    for (std::uint32_t y = 0; y < 3; ++y)
        for (std::uint32_t x = 0; x < 3; ++x) solid.add_pixel(y * 10 + x, Color{}, static_cast<std::int32_t>(x),
                                                             static_cast<std::int32_t>(y));
    ColorCluster line;  // all boundary
    for (std::uint32_t x = 0; x < 9; ++x) line.add_pixel(x, Color{}, static_cast<std::int32_t>(x), 0);
    Config config;
    config.width = 10;
    config.height = 3;
    config.pixels.assign(30, Color{});
    const ClusterBuilder builder(builder_settings(config));
    const std::vector<MergeCandidate> far{{5, 40}, {6, 50}};
    const std::vector<MergeCandidate> near{{5, 16}};
    struct Case {
        std::uint64_t min_area, max_area;
        std::int32_t min_difference;
        const ColorCluster* cluster;
        const std::vector<MergeCandidate>* candidates;
        bool expected;
    };
    const Case cases[] = {
        {8, 100, 16, &solid, &far, true},   {9, 100, 16, &solid, &far, false},  // needs more than min area
        {8, 9, 16, &solid, &far, false},                                         // and less than max area
        {8, 100, 16, &solid, &near, false},                                      // and more than the difference
        {1, 100, 16, &line, &far, false},                                        // and not all boundary
        {0, 100, 16, &line, &far, true},                                         // unless min area is 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(make_emit_as_layer(c.min_area, c.max_area, c.min_difference)(builder, *c.cluster, *c.candidates),
                  c.expected)
            << c.min_area << " " << c.max_area;
    }
    EXPECT_TRUE(make_treat_as_hole(1)(builder, solid, near));
    EXPECT_FALSE(make_treat_as_hole(1)(builder, solid, far));
    EXPECT_FALSE(make_treat_as_hole(0)(builder, solid, near));
}

TEST(ColorTotal, AveragesStayExactPastThirtyTwoBitSums) {
    // 16,843,010 white pixels: a 32-bit channel sum would wrap to 254.
    ColorTotal total;
    const Color white{255, 255, 255, 255};
    for (std::uint32_t i = 0; i < 16843010u; ++i) total.add(white);
    EXPECT_EQ(total.average(), white);
    ColorTotal doubled = total;
    doubled.add(total);
    EXPECT_EQ(doubled.average(), white);
    EXPECT_EQ(doubled.count, 2u * 16843010u);
}
