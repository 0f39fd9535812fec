#include "container.hpp"

namespace glyph {

namespace {

void put(RgbaRaster& raster, std::uint32_t pixel, Color color) {
    std::uint8_t* out = &raster.pixels[std::size_t{4} * pixel];
    out[0] = color.r;
    out[1] = color.g;
    out[2] = color.b;
    out[3] = color.a;
}

}  // namespace

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
