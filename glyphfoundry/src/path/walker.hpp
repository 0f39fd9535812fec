#pragma once
// Walks the outline of a shape along the pixel corners.
#include <cstdint>
#include <optional>

#include "../image/format/bit_raster.hpp"
#include "paths.hpp"

namespace glyph {

// Walks the boundary edges (edges whose two side pixels differ) of one
// outline, starting at `start`. Reports `start`, then every vertex where the
// outline turns, then `start` again, then nothing.
class OutlineWalker {
public:
    OutlineWalker(const BitRaster& image, PointI start, bool clockwise)
        : start_(start), current_(start), previous_(start), image_(&image), clockwise_(clockwise) {}
    // The walker reads the image while it lives.
    OutlineWalker(const BitRaster&& image, PointI start, bool clockwise) = delete;

    // Stops with "STUCK: ..." once a turn is reached after more than
    // 1,000,000 unit edges, or when no edge leads on.
    std::optional<PointI> next_vertex();

    std::uint32_t steps() const { return steps_; }

private:
    PointI start_;
    PointI current_;
    PointI previous_;
    const BitRaster* image_;
    std::uint32_t steps_ = 0;
    bool clockwise_;
    bool first_ = true;
};

inline constexpr std::uint32_t MAX_OUTLINE_STEPS = 1'000'000;

// The closed outline of the component holding the first set pixel, reported
// at turn vertices only; simplified when mode is Polygon; empty without a set pixel.
PixelPath outline_path(const BitRaster& image, bool clockwise, PathMode mode);

}  // namespace glyph
