#pragma once
// The finished result of colour clustering.
#include <cstdint>
#include <optional>
#include <vector>

#include "../image/format/rgba_raster.hpp"
#include "cluster.hpp"

namespace glyph {

struct ClusterSet {
    RgbaRaster image;                         // the image that was clustered
    std::vector<std::uint32_t> pixel_owner;   // final owner of each pixel
    std::vector<std::uint32_t> output_order;  // emitted clusters, in emission order
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // The key colour when cluster 0 holds the keyed pixels. paint_image then
    // paints those pixels in it, so that a repaint keeps them recognisable as
    // transparent, and the other pixels of cluster 0 (joined to it through
    // keyed neighbours of a colour close to the key) in their own average.
    std::optional<Color> keyed_cluster_color;
    // Clusters are numbered 0 .. slot_count - 1. A photograph leaves about a
    // million slots, nearly all emptied by merging, so only the clusters that
    // still list pixels, and the emitted ones, are kept: kept_clusters[i] is
    // cluster kept_indices[i], in ascending index order.
    std::uint32_t slot_count = 1;
    std::vector<std::uint32_t> kept_indices;
    std::vector<ColorCluster> kept_clusters;

    // Cluster `index`; an empty cluster for a slot not kept.
    const ColorCluster& cluster(std::uint32_t index) const;
    // Cluster `index`, or null for a slot not kept.
    const ColorCluster* find(std::uint32_t index) const;
    // Keeps `cluster` as cluster `index`, which must exceed every index kept so far.
    void keep(std::uint32_t index, ColorCluster cluster);

    // Emitted clusters from the last emitted to the first: backgrounds first,
    // the layers emitted early on top. `visit(index, cluster)`.
    template <class Visit>
    void visit_emitted(Visit visit) const {
        for (auto it = output_order.rbegin(); it != output_order.rend(); ++it) visit(*it, cluster(*it));
    }

    // A raster of the image's size, all (0, 0, 0, 0), with every emitted
    // cluster painted in its colour in visiting order (later ones win).
    RgbaRaster paint_image() const;
};

}  // namespace glyph
