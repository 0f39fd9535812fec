#include "walker.hpp"

#include <array>
#include <bit>

#include "../failure.hpp"
#include "simplify.hpp"

namespace glyph {

namespace {

constexpr const char* STUCK_MESSAGE = "STUCK: shape should be broken down first without diagonally connected component";

enum Direction : std::uint8_t { North, East, South, West };

struct DirectionInfo {
    PointI step;
    PointI side_a;  // pixel offsets from the vertex leaving in this direction
    PointI side_b;
};

constexpr std::array<DirectionInfo, 4> DIRECTIONS = {{
    {{0, -1}, {-1, -1}, {0, -1}},  // north
    {{1, 0}, {0, 0}, {0, -1}},     // east
    {{0, 1}, {-1, 0}, {0, 0}},     // south
    {{-1, 0}, {-1, 0}, {-1, -1}},  // west
}};

constexpr std::array<Direction, 4> CLOCKWISE_ORDER = {North, East, South, West};
constexpr std::array<Direction, 4> ANTICLOCKWISE_ORDER = {West, South, East, North};

bool is_boundary_edge(const BitRaster& image, PointI vertex, Direction d) {
    const PointI a = wrapping_add(vertex, DIRECTIONS[d].side_a);
    const PointI b = wrapping_add(vertex, DIRECTIONS[d].side_b);
    return image.get_pixel_or_false(a.x, a.y) != image.get_pixel_or_false(b.x, b.y);
}

// Index of the first set bit, or nothing.
std::optional<std::size_t> first_set_bit(const BitRaster& image) {
    const std::size_t count = image.bit_count();
    for (std::size_t w = 0; w < image.words.size(); ++w) {
        if (image.words[w] != 0) {
            const std::size_t index = w * 32 + static_cast<std::size_t>(std::countr_zero(image.words[w]));
            if (index < count) return index;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<PointI> OutlineWalker::next_vertex() {
    if (first_) {
        first_ = false;
        return start_;
    }
    if (current_ == start_ && steps_ > 0) return std::nullopt;
    const auto& order = clockwise_ ? CLOCKWISE_ORDER : ANTICLOCKWISE_ORDER;
    std::optional<Direction> heading;
    for (;;) {
        std::optional<Direction> chosen;
        for (const Direction d : order) {
            const PointI target = wrapping_add(current_, DIRECTIONS[d].step);
            if (target != previous_ && is_boundary_edge(*image_, current_, d)) {
                chosen = d;
                break;
            }
        }
        // Every vertex on an outline has a second boundary edge; without one
        // the image was not a single traceable shape.
        if (!chosen) stop(STUCK_MESSAGE);
        if (heading && *chosen != *heading) {
            if (steps_ > MAX_OUTLINE_STEPS) stop(STUCK_MESSAGE);
            return current_;
        }
        previous_ = current_;
        current_ = wrapping_add(current_, DIRECTIONS[*chosen].step);
        ++steps_;
        heading = chosen;
    }
}

PixelPath outline_path(const BitRaster& image, bool clockwise, PathMode mode) {
    PixelPath path;
    if (image.has_no_pixels()) return path;
    const std::optional<std::size_t> first = first_set_bit(image);
    if (!first) return path;
    const PointI start{static_cast<std::int32_t>(*first % image.width), static_cast<std::int32_t>(*first / image.width)};
    OutlineWalker walker(image, start, clockwise);
    while (const std::optional<PointI> vertex = walker.next_vertex()) path.points.push_back(*vertex);
    if (mode == PathMode::Polygon) return prune_by_penalty(drop_stair_steps(path, clockwise));
    return path;
}

}  // namespace glyph
