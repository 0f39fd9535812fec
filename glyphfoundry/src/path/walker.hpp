#pragma once
// Walks the outline of a shape along the pixel corners.
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <optional>

#include "../failure.hpp"
#include "../image/format/bit_raster.hpp"
#include "paths.hpp"

namespace glyph {

inline constexpr std::uint32_t MAX_OUTLINE_STEPS = 1'000'000;
inline constexpr const char* STUCK_MESSAGE =
    "STUCK: shape should be broken down first without diagonally connected component";

// Walks the boundary edges (edges whose two side pixels differ, read with
// get_pixel_or_false) of one outline, starting at `start`. Reports `start`,
// then every vertex where the outline turns, then `start` again, then
// nothing. `Image` is any pixel source with get_pixel_or_false(x, y).
template <class Image>
class BasicOutlineWalker {
public:
    BasicOutlineWalker(const Image& image, PointI start, bool clockwise)
        : start_(start), current_(start), previous_(start), image_(&image), clockwise_(clockwise) {}
    // The walker reads the image while it lives.
    BasicOutlineWalker(const Image&& image, PointI start, bool clockwise) = delete;

    // Stops with STUCK_MESSAGE once a turn is reached after more than
    // MAX_OUTLINE_STEPS unit edges, or when no edge leads on.
    std::optional<PointI> next_vertex() {
        if (first_) {
            first_ = false;
            return start_;
        }
        if (current_ == start_ && steps_ > 0) return std::nullopt;
        int heading = -1;
        for (;;) {
            // Boundary edges leaving the vertex, one bit per direction, less
            // the edge back to the vertex just left.
            unsigned candidates = boundary_edges();
            if (previous_ != current_) candidates &= ~(1u << opposite(last_step_));
            if (candidates == 0) stop(STUCK_MESSAGE);
            // The first candidate in the scan order.
            const int chosen = clockwise_ ? std::countr_zero(candidates) : 31 - std::countl_zero(candidates);
            if (heading >= 0 && chosen != heading) {
                if (steps_ > MAX_OUTLINE_STEPS) stop(STUCK_MESSAGE);
                return current_;
            }
            previous_ = current_;
            current_ = wrapping_add(current_, STEPS[chosen]);
            last_step_ = chosen;
            ++steps_;
            heading = chosen;
        }
    }

    std::uint32_t steps() const { return steps_; }

private:
    // Directions as bits: north 0, east 1, south 2, west 3. Scanning
    // clockwise takes them in this order, anticlockwise in the reverse.
    static constexpr std::array<PointI, 4> STEPS = {{{0, -1}, {1, 0}, {0, 1}, {-1, 0}}};
    static constexpr int opposite(int d) { return d ^ 2; }

    // An edge is on the boundary when the pixels on its two sides differ;
    // the four pixels around the vertex hold both sides of all four edges.
    unsigned boundary_edges() const {
        if constexpr (requires(const Image& image) { image.get_pixel_pair_or_false(0, 0); }) {
            if (current_.x > std::numeric_limits<std::int32_t>::min() &&
                current_.y > std::numeric_limits<std::int32_t>::min()) {
                const auto [up_left, up_right] = image_->get_pixel_pair_or_false(current_.x - 1, current_.y - 1);
                const auto [down_left, down_right] = image_->get_pixel_pair_or_false(current_.x - 1, current_.y);
                return edges_between(up_left, up_right, down_left, down_right);
            }
        }
        const PointI ul = wrapping_add(current_, {-1, -1});
        const PointI ur = wrapping_add(current_, {0, -1});
        const PointI dl = wrapping_add(current_, {-1, 0});
        return edges_between(image_->get_pixel_or_false(ul.x, ul.y), image_->get_pixel_or_false(ur.x, ur.y),
                             image_->get_pixel_or_false(dl.x, dl.y), image_->get_pixel_or_false(current_.x, current_.y));
    }

    static unsigned edges_between(bool up_left, bool up_right, bool down_left, bool down_right) {
        return static_cast<unsigned>(up_left != up_right) | static_cast<unsigned>(up_right != down_right) << 1 |
               static_cast<unsigned>(down_left != down_right) << 2 | static_cast<unsigned>(down_left != up_left) << 3;
    }

    PointI start_;
    PointI current_;
    PointI previous_;
    const Image* image_;
    std::uint32_t steps_ = 0;
    int last_step_ = 0;  // direction of the step from previous_ to current_
    bool clockwise_;
    bool first_ = true;
};

using OutlineWalker = BasicOutlineWalker<BitRaster>;

// The walked outline from `start`, simplified when mode is Polygon.
template <class Image>
PixelPath walk_outline(const Image& image, PointI start, bool clockwise, PathMode mode);

// The closed outline of the component holding the first set pixel, reported
// at turn vertices only; simplified when mode is Polygon; empty without a set pixel.
PixelPath outline_path(const BitRaster& image, bool clockwise, PathMode mode);

// Passes the walked vertices of a Polygon-mode outline through the polygon
// simplification; returns other modes' paths unchanged.
PixelPath simplify_for_mode(PixelPath walked, bool clockwise, PathMode mode);

template <class Image>
PixelPath walk_outline(const Image& image, PointI start, bool clockwise, PathMode mode) {
    PixelPath path;
    BasicOutlineWalker<Image> walker(image, start, clockwise);
    while (const std::optional<PointI> vertex = walker.next_vertex()) path.points.push_back(*vertex);
    return simplify_for_mode(std::move(path), clockwise, mode);
}

}  // namespace glyph
