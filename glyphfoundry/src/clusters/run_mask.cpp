#include "run_mask.hpp"

#include <algorithm>

#include "set_bits.hpp"

namespace glyph {

std::optional<PointI> RunMask::first_set_pixel() const {
    if (runs.empty()) return std::nullopt;
    const auto y = static_cast<std::size_t>(std::upper_bound(row_start.begin(), row_start.end(), 0) - row_start.begin()) - 1;
    return PointI{static_cast<std::int32_t>(runs.front().begin), static_cast<std::int32_t>(y)};
}

BitRaster RunMask::to_bits() const {
    BitRaster image = BitRaster::create(width, height);
    if (has_no_pixels()) return image;
    for (std::size_t y = 0; y < height; ++y) {
        for (const PixelRun& run : row(y)) set_bit_range(image, y * width + run.begin, y * width + run.end);
    }
    return image;
}

RunMask RunMask::from_bits(const BitRaster& image) {
    RunMask mask;
    if (image.has_no_pixels()) return mask;
    mask.width = image.width;
    mask.height = image.height;
    mask.row_start.reserve(image.height + 1);
    for (std::size_t y = 0; y < image.height; ++y) {
        mask.row_start.push_back(mask.runs.size());
        const std::size_t row = y * image.width;
        for_each_set_run(image, row, row + image.width, [&](std::size_t begin, std::size_t end) {
            mask.runs.push_back({static_cast<std::uint32_t>(begin - row), static_cast<std::uint32_t>(end - row)});
        });
    }
    mask.row_start.push_back(mask.runs.size());
    return mask;
}

RunMask RunMask::from_points(std::span<const PointI> points, Rect rect) {
    RunMask mask;
    mask.width = static_cast<std::size_t>(rect.width());
    mask.height = static_cast<std::size_t>(rect.height());
    if (mask.has_no_pixels()) return mask;
    // Bucket the columns by row, then sort each row's few columns.
    std::vector<std::size_t> bucket(mask.height + 1, 0);
    for (const PointI p : points) ++bucket[static_cast<std::size_t>(p.y - rect.top) + 1];
    for (std::size_t y = 0; y < mask.height; ++y) bucket[y + 1] += bucket[y];
    std::vector<std::uint32_t> columns(points.size());
    std::vector<std::size_t> fill(bucket.begin(), bucket.end() - 1);
    for (const PointI p : points) {
        columns[fill[static_cast<std::size_t>(p.y - rect.top)]++] = static_cast<std::uint32_t>(p.x - rect.left);
    }
    mask.row_start.reserve(mask.height + 1);
    for (std::size_t y = 0; y < mask.height; ++y) {
        mask.row_start.push_back(mask.runs.size());
        const auto first = columns.begin() + static_cast<std::ptrdiff_t>(bucket[y]);
        const auto last = columns.begin() + static_cast<std::ptrdiff_t>(bucket[y + 1]);
        std::sort(first, last);
        for (auto it = first; it != last; ++it) {
            if (mask.runs.size() > mask.row_start.back() && mask.runs.back().end == *it) {
                ++mask.runs.back().end;
            } else {
                mask.runs.push_back({*it, *it + 1});
            }
        }
    }
    mask.row_start.push_back(mask.runs.size());
    return mask;
}

}  // namespace glyph
