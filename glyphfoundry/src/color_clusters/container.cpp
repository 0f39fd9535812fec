#include "container.hpp"

namespace glyph {

RgbaRaster ClusterSet::paint_image() const {
    RgbaRaster painted = RgbaRaster::create(image.width, image.height);
    const std::size_t pixel_count = painted.pixel_count();
    visit_emitted([&](std::uint32_t index, const ColorCluster& cluster) {
        const Color color = (index == 0 && keyed_cluster_color) ? *keyed_cluster_color : cluster.remainder_color();
        for (std::uint32_t pixel : cluster.pixels) {
            if (pixel >= pixel_count) continue;
            std::uint8_t* out = &painted.pixels[std::size_t{4} * pixel];
            out[0] = color.r;
            out[1] = color.g;
            out[2] = color.b;
            out[3] = color.a;
        }
    });
    return painted;
}

}  // namespace glyph
