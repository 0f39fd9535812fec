#include "container.hpp"

#include <algorithm>
#include <cassert>
#include <utility>

namespace glyph {

namespace {

const ColorCluster EMPTY_CLUSTER;

void put(RgbaRaster& raster, std::uint32_t pixel, Color color) {
    std::uint8_t* out = &raster.pixels[std::size_t{4} * pixel];
    out[0] = color.r;
    out[1] = color.g;
    out[2] = color.b;
    out[3] = color.a;
}

}  // namespace

const ColorCluster* ClusterSet::find(std::uint32_t index) const {
    const auto at = std::lower_bound(kept_indices.begin(), kept_indices.end(), index);
    if (at == kept_indices.end() || *at != index) return nullptr;
    return &kept_clusters[static_cast<std::size_t>(at - kept_indices.begin())];
}

const ColorCluster& ClusterSet::cluster(std::uint32_t index) const {
    const ColorCluster* kept = find(index);
    return kept != nullptr ? *kept : EMPTY_CLUSTER;
}

void ClusterSet::keep(std::uint32_t index, ColorCluster kept) {
    assert(kept_indices.empty() || kept_indices.back() < index);
    kept_indices.push_back(index);
    kept_clusters.push_back(std::move(kept));
    if (index >= slot_count) slot_count = index + 1;
}

RgbaRaster ClusterSet::paint_image() const {
    RgbaRaster painted = RgbaRaster::create(image.width, image.height);
    const std::size_t pixel_count = painted.pixel_count();
    visit_emitted([&](std::uint32_t index, const ColorCluster& cluster) {
        if (index == 0 && keyed_cluster_color) {
            const Color key = *keyed_cluster_color;
            ColorTotal unkeyed;
            for (std::uint32_t pixel : cluster.pixels) {
                if (pixel < pixel_count && image.pixel_at(pixel) != key) unkeyed.add(image.pixel_at(pixel));
            }
            const Color own = unkeyed.count != 0 ? unkeyed.average() : key;
            for (std::uint32_t pixel : cluster.pixels) {
                if (pixel < pixel_count) put(painted, pixel, image.pixel_at(pixel) == key ? key : own);
            }
            return;
        }
        const Color color = cluster.remainder_color();
        for (std::uint32_t pixel : cluster.pixels) {
            if (pixel < pixel_count) put(painted, pixel, color);
        }
    });
    return painted;
}

}  // namespace glyph
