#include "trace_elements.hpp"

#include <algorithm>
#include <cstdint>

#include "../failure.hpp"
#include "cluster.hpp"

namespace glyph {

namespace {

// A maximal run of unset pixels in one row.
struct BackgroundRun {
    std::uint32_t begin;
    std::uint32_t end;
    std::uint32_t row;
    std::uint32_t piece;  // a piece id; find() gives the piece it now belongs to
};

// One cluster of the background as `find_clusters` would create it.
struct Piece {
    std::uint32_t parent;
    std::uint64_t size;
    std::uint32_t slot;
};

// Runs `find_clusters` on the inverted image run by run instead of pixel by
// pixel. Within a run every pixel after the first has its left neighbour set,
// so clusters are only created at run starts and merged where a run of the
// row above begins to overlap; between those events pixels are only counted.
// Merges, point counts, slot numbers and slot reuse follow the pixel scan
// exactly, so the surviving slots, their order and the "overflow" stop are
// the same.
class BackgroundScan {
public:
    std::uint32_t find(std::uint32_t id) {
        while (pieces_[id].parent != id) {
            pieces_[id].parent = pieces_[pieces_[id].parent].parent;
            id = pieces_[id].parent;
        }
        return id;
    }

    std::uint32_t create() {
        const auto id = static_cast<std::uint32_t>(pieces_.size());
        if (next_slot_ >= slot_count_) ++slot_count_;
        pieces_.push_back({id, 1, next_slot_});
        ++next_slot_;
        if (next_slot_ == SLOT_LIMIT) stop("overflow");
        return id;
    }

    void grow(std::uint32_t id, std::uint64_t count) { pieces_[id].size += count; }

    // The pixel joining `left` and `up` merges them; returns the survivor.
    std::uint32_t merge(std::uint32_t left, std::uint32_t up) {
        if (pieces_[left].size > pieces_[up].size) {
            absorb(up, left);
            return left;
        }
        absorb(left, up);
        const std::uint32_t freed = pieces_[left].slot;
        if (next_slot_ > 0 && freed == next_slot_ - 1 && slot_count_ == next_slot_) next_slot_ = freed;
        return up;
    }

    std::size_t piece_count() const { return pieces_.size(); }
    std::uint32_t slot(std::uint32_t id) const { return pieces_[id].slot; }

private:
    static constexpr std::uint32_t SLOT_LIMIT = 65535;

    void absorb(std::uint32_t from, std::uint32_t into) {
        pieces_[into].size += pieces_[from].size;
        pieces_[from].parent = into;
    }

    std::vector<Piece> pieces_;
    std::uint32_t next_slot_ = 0;
    std::uint32_t slot_count_ = 0;
};

// Calls visit(begin, end) for every run of unset pixels of row y.
template <class Visit>
void for_each_gap(const RunMask& image, std::size_t y, Visit&& visit) {
    std::uint32_t gap_begin = 0;
    for (const PixelRun& run : image.row(y)) {
        if (run.begin > gap_begin) visit(gap_begin, run.begin);
        gap_begin = run.end;
    }
    if (gap_begin < image.width) visit(gap_begin, static_cast<std::uint32_t>(image.width));
}

std::vector<BackgroundRun> scan_background(const RunMask& image, BackgroundScan& scan) {
    std::vector<BackgroundRun> runs;
    std::size_t previous_begin = 0;  // runs of the row above: [previous_begin, previous_end)
    std::size_t previous_end = 0;
    for (std::size_t y = 0; y < image.height; ++y) {
        const std::size_t row_begin = runs.size();
        std::size_t k = previous_begin;
        for_each_gap(image, y, [&](std::uint32_t x0, std::uint32_t x1) {
            while (k < previous_end && runs[k].end <= x0) ++k;
            std::size_t j = k;
            std::uint32_t piece = 0;
            if (j < previous_end && runs[j].begin <= x0) {
                piece = scan.find(runs[j].piece);
                scan.grow(piece, 1);
                ++j;
            } else {
                piece = scan.create();
            }
            std::uint32_t next_pixel = x0 + 1;
            for (; j < previous_end && runs[j].begin < x1; ++j) {
                const std::uint32_t meet = runs[j].begin;
                scan.grow(piece, meet - next_pixel);
                const std::uint32_t up = scan.find(runs[j].piece);
                if (up != piece) piece = scan.merge(piece, up);
                scan.grow(piece, 1);
                next_pixel = meet + 1;
            }
            scan.grow(piece, x1 - next_pixel);
            runs.push_back({x0, x1, static_cast<std::uint32_t>(y), piece});
        });
        previous_begin = row_begin;
        previous_end = runs.size();
    }
    return runs;
}

// Opens the rows of `mask` up to row `rows`: runs added next belong to it.
void close_rows(RunMask& mask, std::size_t rows) {
    while (mask.row_start.size() < rows + 1) mask.row_start.push_back(mask.runs.size());
}

}  // namespace

TraceElements find_trace_elements(const RunMask& image) {
    TraceElements elements;
    if (image.has_no_pixels()) return elements;
    BackgroundScan scan;
    std::vector<BackgroundRun> runs = scan_background(image, scan);

    // A piece touching a side of the picture is outside the component.
    std::vector<bool> outside(scan.piece_count(), false);
    const std::size_t last_row = image.height - 1;
    for (BackgroundRun& run : runs) {
        run.piece = scan.find(run.piece);
        if (run.begin == 0 || run.end == image.width || run.row == 0 || run.row == last_row) {
            outside[run.piece] = true;
        }
    }
    std::vector<std::uint32_t> hole_pieces;
    for (const BackgroundRun& run : runs) {
        if (!outside[run.piece]) {
            hole_pieces.push_back(run.piece);
            outside[run.piece] = true;  // listed once
        }
    }
    if (hole_pieces.empty()) return elements;
    std::sort(hole_pieces.begin(), hole_pieces.end(),
              [&](std::uint32_t a, std::uint32_t b) { return scan.slot(a) < scan.slot(b); });

    constexpr std::uint32_t NOT_A_HOLE = ~std::uint32_t{0};
    std::vector<std::uint32_t> hole_index(scan.piece_count(), NOT_A_HOLE);
    for (std::size_t h = 0; h < hole_pieces.size(); ++h) hole_index[hole_pieces[h]] = static_cast<std::uint32_t>(h);

    std::vector<Rect> rects(hole_pieces.size());
    for (const BackgroundRun& run : runs) {
        const std::uint32_t h = hole_index[run.piece];
        if (h == NOT_A_HOLE) continue;
        rects[h].include_pixel(static_cast<std::int32_t>(run.begin), static_cast<std::int32_t>(run.row));
        rects[h].include_pixel(static_cast<std::int32_t>(run.end - 1), static_cast<std::int32_t>(run.row));
    }
    elements.holes.reserve(hole_pieces.size());
    for (const Rect& rect : rects) {
        RunMask hole;
        hole.width = static_cast<std::size_t>(rect.width());
        hole.height = static_cast<std::size_t>(rect.height());
        elements.holes.push_back({std::move(hole), {rect.left, rect.top}});
    }
    // The filled component: every row is set between the runs of outside
    // background. Holes get their runs in their own coordinates.
    RunMask filled;
    filled.width = image.width;
    filled.height = image.height;
    std::size_t next = 0;
    for (std::size_t y = 0; y < image.height; ++y) {
        filled.row_start.push_back(filled.runs.size());
        std::uint32_t set_from = 0;
        for (; next < runs.size() && runs[next].row == y; ++next) {
            const BackgroundRun& run = runs[next];
            const std::uint32_t h = hole_index[run.piece];
            if (h == NOT_A_HOLE) {
                if (run.begin > set_from) filled.runs.push_back({set_from, run.begin});
                set_from = run.end;
                continue;
            }
            HoleElement& hole = elements.holes[h];
            const auto hole_row = static_cast<std::size_t>(static_cast<std::int32_t>(run.row) - hole.offset.y);
            close_rows(hole.image, hole_row);
            const auto shift = static_cast<std::uint32_t>(hole.offset.x);
            hole.image.runs.push_back({run.begin - shift, run.end - shift});
        }
        if (set_from < image.width) filled.runs.push_back({set_from, static_cast<std::uint32_t>(image.width)});
    }
    filled.row_start.push_back(filled.runs.size());
    for (HoleElement& hole : elements.holes) close_rows(hole.image, hole.image.height);
    elements.filled = std::move(filled);
    return elements;
}

TraceElements find_trace_elements_by_clustering(const BitRaster& image) {
    TraceElements elements;
    if (image.has_no_pixels()) return elements;
    BitRaster filled = image;
    for (const Cluster& piece : find_clusters(image.inverted())) {
        const Rect r = piece.rect;
        const bool touches_side = r.left == 0 || r.top == 0 || static_cast<std::size_t>(r.right) == image.width ||
                                  static_cast<std::size_t>(r.bottom) == image.height;
        if (touches_side) continue;
        for (const PointI p : piece.points) {
            filled.set_pixel(static_cast<std::size_t>(p.x), static_cast<std::size_t>(p.y), true);
        }
        elements.holes.push_back({RunMask::from_bits(piece.to_mask()), {r.left, r.top}});
    }
    if (!elements.holes.empty()) elements.filled = RunMask::from_bits(filled);
    return elements;
}

}  // namespace glyph
