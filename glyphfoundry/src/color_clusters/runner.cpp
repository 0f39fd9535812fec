#include "runner.hpp"

#include <utility>

#include "../failure.hpp"

namespace glyph {

SameColor make_same_color(std::int32_t is_same_color_a, std::int32_t tolerance) {
    const unsigned shift = static_cast<std::uint32_t>(is_same_color_a) & 7u;
    return [shift, tolerance](Color a, Color b) {
        auto close = [&](std::uint8_t x, std::uint8_t y) {
            const int dx = x >> shift;
            const int dy = y >> shift;
            const int difference = dx > dy ? dx - dy : dy - dx;
            return difference <= tolerance;
        };
        return close(a.r, b.r) && close(a.g, b.g) && close(a.b, b.b);
    };
}

ColorDifference make_color_difference() {
    return [](Color a, Color b) -> std::int32_t {
        auto distance = [](std::uint8_t x, std::uint8_t y) { return x > y ? x - y : y - x; };
        return distance(a.r, b.r) + distance(a.g, b.g) + distance(a.b, b.b);
    };
}

MergeDecision make_emit_as_layer(std::uint64_t min_layer_area, std::uint64_t max_layer_area,
                                 std::int32_t min_layer_difference) {
    return [=](const ClusterBuilder& builder, const ColorCluster& cluster, std::span<const MergeCandidate> candidates) {
        const std::uint64_t area = cluster.size();
        if (min_layer_area >= area) return false;
        if (area >= max_layer_area) return false;
        if (candidates.front().difference <= min_layer_difference) return false;
        // Clusters that are all boundary (thin lines) never become layers.
        // Asked last: counting can take a pass over the cluster's rectangle.
        return min_layer_area == 0 || builder.edge_pixel_count(cluster) < area;
    };
}

MergeDecision make_treat_as_hole(std::uint64_t max_hollow_neighbours) {
    return [max_hollow_neighbours](const ClusterBuilder&, const ColorCluster&, std::span<const MergeCandidate> candidates) {
        return candidates.size() <= max_hollow_neighbours;
    };
}

ClusterSet ClusterRunner::run(RunSettings settings) {
    ClusterBuilder builder = prepare(std::move(settings));
    while (!builder.step()) {
    }
    return std::move(builder).finish();
}

ClusterBuilder ClusterRunner::prepare(RunSettings settings) {
    if (settings.is_same_color_a >= 8) stop("assertion failed: is_same_color_a < 8");
    BuilderSettings builder_settings;
    builder_settings.image = std::move(settings.image);
    builder_settings.transparent_key = settings.transparent_key;
    builder_settings.merge_area_limit = settings.merge_area_limit;
    builder_settings.pixels_per_step = settings.pixels_per_step;
    builder_settings.diagonal_joining = settings.diagonal_joining;
    builder_settings.discard_keyed = settings.discard_keyed;
    builder_settings.same_color = make_same_color(settings.is_same_color_a, settings.same_color_tolerance);
    builder_settings.color_difference = make_color_difference();
    builder_settings.emit_as_layer =
        make_emit_as_layer(settings.min_layer_area, settings.max_layer_area, settings.min_layer_difference);
    builder_settings.treat_as_hole = make_treat_as_hole(settings.max_hollow_neighbours);
    builder_settings.on_layer = std::move(settings.on_layer);
    return ClusterBuilder(std::move(builder_settings));
}

}  // namespace glyph
