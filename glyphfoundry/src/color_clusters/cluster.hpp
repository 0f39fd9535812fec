#pragma once
// One colour cluster and the ways it is read: its colour, its one-bit image,
// its boundary length and its outline.
#include <cstdint>
#include <vector>

#include "../clusters/trace.hpp"
#include "../color/color_total.hpp"
#include "../image/format/bit_raster.hpp"
#include "../path/compound.hpp"
#include "../point/rect.hpp"

namespace glyph {

struct ColorCluster {
    std::vector<std::uint32_t> pixels;  // pixel indices y * width + x; their order carries no meaning
    std::vector<std::uint32_t> holes;   // pixels of children emitted as hollow layers, a set as well
    Rect rect;                          // bounding box of the pixels added
    ColorTotal sum;                     // colour total of `pixels`
    ColorTotal remainder;               // without the children emitted as layers

    std::uint32_t size() const { return static_cast<std::uint32_t>(pixels.size()); }

    void add_pixel(std::uint32_t index, Color color, std::int32_t x, std::int32_t y) {
        pixels.push_back(index);
        sum.add(color);
        rect.include_pixel(x, y);
    }

    // The colour the cluster is drawn with.
    Color remainder_color() const { return remainder.average(); }

    // The pixels (less the holes, if asked) cut out to `rect`.
    BitRaster to_mask(std::uint32_t image_width, bool leave_out_holes) const;

    // Set pixels of to_mask(width, true) that are not interior.
    std::uint32_t edge_pixel_count(std::uint32_t image_width) const;

    // One group of sub-paths per 4-connected piece of the mask, in image
    // coordinates.
    CompoundPath to_shape_path(std::uint32_t image_width, bool leave_out_holes,
                               const TraceParams& params) const;
};

}  // namespace glyph
