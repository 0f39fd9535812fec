#pragma once
// A one-bit picture kept as the runs of set pixels of every row. Tracing
// works on it so that a thin shape with a large rectangle (a long diagonal
// stroke) costs in proportion to its pixels and outline, not to its area.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "../image/format/bit_raster.hpp"
#include "../point/point.hpp"
#include "../point/rect.hpp"

namespace glyph {

struct PixelRun {
    std::uint32_t begin;  // first column
    std::uint32_t end;    // one past the last column
    bool operator==(const PixelRun&) const = default;
};

// The first run of `row` that ends after column `x` (x may be negative).
inline const PixelRun* first_run_ending_after(std::span<const PixelRun> row, std::int64_t x) {
    if (row.size() <= 8) {
        for (const PixelRun& run : row) {
            if (x < run.end) return &run;
        }
        return nullptr;
    }
    const auto it = std::upper_bound(row.begin(), row.end(), x,
                                     [](std::int64_t value, const PixelRun& run) { return value < run.end; });
    return it == row.end() ? nullptr : &*it;
}

struct RunMask {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<std::size_t> row_start;  // height + 1 offsets into runs; empty without pixels
    std::vector<PixelRun> runs;          // left to right within each row

    bool operator==(const RunMask&) const = default;

    bool has_no_pixels() const { return width == 0 || height == 0; }
    std::span<const PixelRun> row(std::size_t y) const {
        return {runs.data() + row_start[y], runs.data() + row_start[y + 1]};
    }
    // False outside the picture, like BitRaster::get_pixel_or_false.
    bool get_pixel_or_false(std::int32_t x, std::int32_t y) const {
        if (x < 0 || y < 0) return false;
        const auto uy = static_cast<std::size_t>(y);
        if (static_cast<std::size_t>(x) >= width || uy >= height) return false;
        const PixelRun* run = first_run_ending_after(row(uy), x);
        return run != nullptr && run->begin <= static_cast<std::uint32_t>(x);
    }

    // Pixels (x, y) and (x + 1, y) with one search of the row.
    std::pair<bool, bool> get_pixel_pair_or_false(std::int32_t x, std::int32_t y) const {
        if (y < 0 || static_cast<std::size_t>(y) >= height || x < -1) {
            return {get_pixel_or_false(x, y), get_pixel_or_false(x + 1, y)};
        }
        // Runs are separated by at least one unset column, so the first run
        // that ends after x decides both pixels.
        const PixelRun* run = first_run_ending_after(row(static_cast<std::size_t>(y)), x);
        if (run == nullptr) return {false, false};
        const std::int64_t next = std::int64_t{x} + 1;
        return {x >= 0 && run->begin <= static_cast<std::uint32_t>(x), run->begin <= next && next < run->end};
    }
    // The first set pixel in row-major order.
    std::optional<PointI> first_set_pixel() const;
    BitRaster to_bits() const;

    static RunMask from_bits(const BitRaster& image);
    // The pixels `points` (distinct, inside `rect`) cut out to `rect`.
    static RunMask from_points(std::span<const PointI> points, Rect rect);
};

}  // namespace glyph
