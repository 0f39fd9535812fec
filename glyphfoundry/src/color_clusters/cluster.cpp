#include "cluster.hpp"

#include <algorithm>
#include <iterator>
#include <limits>

#include "../clusters/cluster.hpp"
#include "../clusters/run_mask.hpp"
#include "../clusters/trace_elements.hpp"

namespace glyph {

namespace {

struct PixelXY {
    std::int64_t x;
    std::int64_t y;
};

PixelXY coordinates(std::uint32_t index, std::uint32_t width) {
    const std::uint32_t y = index / width;
    return {static_cast<std::int64_t>(index - y * width), static_cast<std::int64_t>(y)};
}

bool inside(const Rect& rect, PixelXY p) {
    return p.x >= rect.left && p.x < rect.right && p.y >= rect.top && p.y < rect.bottom;
}

// Mask cells of the dense count: outside the set, in the set, in the set and
// already counted (so that a repeated index is counted once, like a mask bit).
enum Cell : std::uint8_t { Unset = 0, Set = 1, Counted = 2 };

// Boundary count with a byte mask of the rectangle: linear when the cluster
// fills a fair share of its rectangle.
std::uint32_t dense_edge_count(const ColorCluster& cluster, std::uint32_t width) {
    const Rect& rect = cluster.rect;
    const std::int64_t mask_width = rect.width();
    const std::int64_t mask_height = rect.height();
    // One extra unset cell on every side, so that neighbours need no bounds test.
    const std::int64_t stride = mask_width + 2;
    std::vector<std::uint8_t> cells(static_cast<std::size_t>(stride * (mask_height + 2)), Unset);
    auto cell_of = [&](std::uint32_t index) -> std::int64_t {
        const PixelXY p = coordinates(index, width);
        if (!inside(rect, p)) return -1;
        return (p.y - rect.top + 1) * stride + (p.x - rect.left + 1);
    };
    std::vector<std::int64_t> pixel_cells;
    pixel_cells.reserve(cluster.pixels.size());
    for (std::uint32_t index : cluster.pixels) {
        const std::int64_t cell = cell_of(index);
        pixel_cells.push_back(cell);
        if (cell >= 0) cells[static_cast<std::size_t>(cell)] = Set;
    }
    for (std::uint32_t index : cluster.holes) {
        const std::int64_t cell = cell_of(index);
        if (cell >= 0) cells[static_cast<std::size_t>(cell)] = Unset;
    }
    const std::uint8_t* base = cells.data();
    std::uint32_t count = 0;
    for (std::int64_t cell : pixel_cells) {
        if (cell < 0 || cells[static_cast<std::size_t>(cell)] != Set) continue;
        cells[static_cast<std::size_t>(cell)] = Counted;
        const std::uint8_t* c = base + cell;
        const bool interior = c[-1] != Unset && c[1] != Unset && c[-stride] != Unset && c[stride] != Unset;
        if (!interior) ++count;
    }
    return count;
}

// Boundary count from the sorted pixel indices: for clusters spread thinly
// over a large rectangle, where a mask would cost far more than the pixels.
std::uint32_t sparse_edge_count(const ColorCluster& cluster, std::uint32_t width) {
    const Rect& rect = cluster.rect;
    std::vector<std::uint32_t> pixels = cluster.pixels;
    std::sort(pixels.begin(), pixels.end());
    pixels.erase(std::unique(pixels.begin(), pixels.end()), pixels.end());
    std::vector<std::uint32_t> holes = cluster.holes;
    std::sort(holes.begin(), holes.end());
    std::vector<std::uint32_t> set;
    set.reserve(pixels.size());
    std::set_difference(pixels.begin(), pixels.end(), holes.begin(), holes.end(), std::back_inserter(set));

    auto contains = [&](std::int64_t x, std::int64_t y) {
        if (!inside(rect, {x, y})) return false;
        const auto index = static_cast<std::uint32_t>(y * width + x);
        return std::binary_search(set.begin(), set.end(), index);
    };
    std::uint32_t count = 0;
    for (std::uint32_t index : set) {
        const PixelXY p = coordinates(index, width);
        if (!inside(rect, p)) continue;
        const bool interior = contains(p.x - 1, p.y) && contains(p.x + 1, p.y) && contains(p.x, p.y - 1) &&
                              contains(p.x, p.y + 1);
        if (!interior) ++count;
    }
    return count;
}

std::uint32_t root_of(std::vector<std::uint32_t>& parent, std::uint32_t run) {
    while (parent[run] != run) {
        parent[run] = parent[parent[run]];
        run = parent[run];
    }
    return run;
}

// Whether the set pixels form one 4-connected piece whose bounds are the
// whole mask, so that splitting the mask into pieces would give it back
// unchanged. Runs of neighbouring rows that share a column are joined.
bool is_single_piece(const RunMask& mask) {
    if (mask.has_no_pixels() || mask.row(0).empty() || mask.row(mask.height - 1).empty()) return false;
    std::uint32_t leftmost = std::numeric_limits<std::uint32_t>::max();
    std::uint32_t rightmost = 0;
    for (const PixelRun& run : mask.runs) {
        leftmost = std::min(leftmost, run.begin);
        rightmost = std::max(rightmost, run.end);
    }
    if (leftmost != 0 || rightmost != mask.width) return false;
    std::vector<std::uint32_t> parent(mask.runs.size());
    for (std::uint32_t i = 0; i < parent.size(); ++i) parent[i] = i;
    std::size_t pieces = mask.runs.size();
    for (std::size_t y = 1; y < mask.height; ++y) {
        std::size_t above = mask.row_start[y - 1];
        const std::size_t above_end = mask.row_start[y];
        std::size_t here = mask.row_start[y];
        const std::size_t here_end = mask.row_start[y + 1];
        while (above < above_end && here < here_end) {
            const PixelRun& a = mask.runs[above];
            const PixelRun& b = mask.runs[here];
            if (a.begin < b.end && b.begin < a.end) {
                const std::uint32_t ra = root_of(parent, static_cast<std::uint32_t>(above));
                const std::uint32_t rb = root_of(parent, static_cast<std::uint32_t>(here));
                if (ra != rb) {
                    parent[ra] = rb;
                    --pieces;
                }
            }
            // Step past the run that ends first; the other may overlap more.
            if (a.end < b.end) ++above;
            else ++here;
        }
    }
    return pieces == 1;
}

}  // namespace

BitRaster ColorCluster::to_mask(std::uint32_t image_width, bool leave_out_holes) const {
    BitRaster mask = BitRaster::create(static_cast<std::size_t>(rect.width()), static_cast<std::size_t>(rect.height()));
    if (mask.has_no_pixels()) return mask;
    auto place = [&](std::uint32_t index, bool value) {
        const PixelXY p = coordinates(index, image_width);
        if (!inside(rect, p)) return;
        mask.set_pixel(static_cast<std::size_t>(p.x - rect.left), static_cast<std::size_t>(p.y - rect.top), value);
    };
    for (std::uint32_t index : pixels) place(index, true);
    if (leave_out_holes) {
        for (std::uint32_t index : holes) place(index, false);
    }
    return mask;
}

std::uint32_t ColorCluster::edge_pixel_count(std::uint32_t image_width) const {
    if (pixels.empty() || image_width == 0) return 0;
    const auto area = static_cast<std::uint64_t>(rect.width()) * static_cast<std::uint64_t>(rect.height());
    if (area <= 8 * static_cast<std::uint64_t>(pixels.size()) + 4096) return dense_edge_count(*this, image_width);
    return sparse_edge_count(*this, image_width);
}

CompoundPath ColorCluster::to_shape_path(std::uint32_t image_width, bool leave_out_holes,
                                         const TraceParams& params) const {
    CompoundPath shape;
    const BitRaster mask = to_mask(image_width, leave_out_holes);
    if (mask.has_no_pixels()) return shape;
    // Most clusters are one piece: traced as they are, without the split.
    const RunMask runs = RunMask::from_bits(mask);
    if (is_single_piece(runs)) return trace_mask(runs, mask, {rect.left, rect.top}, params);
    for (const Cluster& piece : find_clusters(mask)) {
        const PointI offset = wrapping_add({piece.rect.left, piece.rect.top}, {rect.left, rect.top});
        CompoundPath traced = trace_image(piece.to_mask(), offset, params);
        for (SubPath& path : traced.paths) shape.append(std::move(path));
    }
    return shape;
}

}  // namespace glyph
