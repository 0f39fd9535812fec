#pragma once
// The colour-clustering engine: a raster pass that groups pixels of similar
// colour, then a merge pass that folds clusters into their most similar
// neighbours by area, recording which clusters are emitted as shapes. All
// colour policy comes in as four callables.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <unordered_map>
#include <span>
#include <vector>

#include "../color/color_total.hpp"
#include "../image/format/rgba_raster.hpp"
#include "../point/rect.hpp"
#include "cluster.hpp"
#include "container.hpp"

namespace glyph {

// A neighbour of the cluster being merged and its colour difference.
struct MergeCandidate {
    std::uint32_t index = 0;
    std::int32_t difference = 0;
    bool operator==(const MergeCandidate&) const = default;
};

// How many clusters reached a given pixel count.
struct AreaLevel {
    std::uint64_t area = 0;
    std::uint64_t count = 0;
    bool operator==(const AreaLevel&) const = default;
};

class ClusterBuilder;

using SameColor = std::function<bool(Color, Color)>;
using ColorDifference = std::function<std::int32_t(Color, Color)>;
// (builder, cluster being merged, candidates most similar first) -> decision.
// The cluster's `pixels` hold its pixel set, not necessarily in list order.
using MergeDecision =
    std::function<bool(const ClusterBuilder&, const ColorCluster&, std::span<const MergeCandidate>)>;

// A cluster just emitted as a layer, as the result would hold it, except that
// its pixels come in no particular order.
struct EmittedLayer {
    std::uint32_t index = 0;
    ColorCluster cluster;
};

// Told every cluster emitted as a layer, on the building thread, right after
// the layer is absorbed by its parent. May give back a vector it no longer
// needs (its content is dropped), whose storage the builder reuses for the
// pixels of the clusters it merges next instead of taking fresh memory.
using LayerSink = std::function<std::vector<std::uint32_t>(EmittedLayer)>;

inline constexpr std::uint32_t NO_MERGE_AREA_LIMIT = 4294967295u;

struct BuilderSettings {
    RgbaRaster image;
    Color transparent_key;  // (0, 0, 0, 0): nothing is keyed
    std::uint32_t merge_area_limit = NO_MERGE_AREA_LIMIT;
    std::uint32_t pixels_per_step = 25600;
    bool diagonal_joining = false;
    bool discard_keyed = false;
    SameColor same_color;
    ColorDifference color_difference;
    MergeDecision emit_as_layer;
    MergeDecision treat_as_hole;
    // Optional. A layer never changes once emitted, so it is handed over as
    // it is emitted, and finish() leaves the layers handed over out of the
    // result.
    LayerSink on_layer;
};

enum class BuildStage : std::uint8_t { PixelPass, MergePass, Finished };

class ClusterBuilder {
public:
    // Stops with MemoryLimitExceeded for a picture whose pixels a 32-bit
    // index cannot address.
    explicit ClusterBuilder(BuilderSettings settings);

    // One bounded slice of work; true once finished (and then nothing is done).
    bool step();
    // The result; call only after step() returned true.
    ClusterSet finish() &&;

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    BuildStage stage() const { return stage_; }
    const std::vector<std::uint32_t>& pixel_owner() const { return pixel_owner_; }
    const std::vector<std::uint32_t>& output_order() const { return output_order_; }
    std::vector<AreaLevel> area_levels() const;
    bool keying_active() const { return keying_; }

    // How many pixels, counted from the first, the next step reads: a
    // picture that is still arriving must have that many in place.
    std::uint64_t pixels_read_by_next_step() const;

    // The storage the pixel pass writes its cluster records into, reserved
    // when the builder is made, and how many of its bytes are written so
    // far, so that another thread can fault its pages in just ahead of the
    // pass. `written` is updated after every step of the pass; it becomes
    // RECORDS_SETTLED once the pass writes nothing more there (it ended, or
    // outgrew the storage).
    struct RecordStorage {
        const void* begin = nullptr;
        std::size_t size = 0;
        const std::atomic<std::size_t>* written = nullptr;
    };
    static constexpr std::size_t RECORDS_SETTLED = static_cast<std::size_t>(-1);
    RecordStorage record_storage() const;

    // Owners of the pixels next to cluster c, other than 0 and c's own owner,
    // ascending and distinct. c must have a pixel.
    std::vector<std::uint32_t> neighbours(std::uint32_t c) const;

    // The same count as cluster.edge_pixel_count(width()). For the cluster
    // being merged it is taken from the scan that listed its neighbours: a
    // pixel of a cluster without holes is interior exactly when its four
    // neighbours lie in the image and belong to the same cluster.
    std::uint32_t edge_pixel_count(const ColorCluster& cluster) const;

private:
    // Per area: how many clusters reached it (only decides whether the level
    // is visited) and the clusters that arrived at it, to be visited in index
    // order. Levels are only ever added ahead of the one being visited, so
    // the levels still to visit are a queue by area; looking a level up by
    // area is a table lookup.
    struct Level {
        std::uint64_t count = 0;
        std::vector<std::uint32_t> arrivals;
        bool present = false;
    };
    // Levels by area: a flat table for the small areas most clusters have, a
    // hash map for the others.
    class Levels {
    public:
        // Areas below `limit` go to the flat table.
        void set_small_limit(std::uint64_t limit) { small_.resize(static_cast<std::size_t>(limit)); }
        Level* find(std::uint64_t area) {
            if (area < small_.size()) return small_[area].present ? &small_[area] : nullptr;
            const auto it = large_.find(area);
            return it == large_.end() ? nullptr : &it->second;
        }
        // The level of `area` and whether it was added now.
        std::pair<Level*, bool> find_or_add(std::uint64_t area) {
            Level* level = nullptr;
            if (area < small_.size()) {
                level = &small_[area];
            } else {
                level = &large_[area];
            }
            const bool added = !level->present;
            if (added) {
                level->present = true;
                ++size_;
            }
            return {level, added};
        }
        bool empty() const { return size_ == 0; }
        std::size_t size() const { return size_; }
        template <class Visit>
        void for_each(Visit visit) const {
            for (std::size_t area = 0; area < small_.size(); ++area) {
                if (small_[area].present) visit(std::uint64_t{area}, small_[area]);
            }
            for (const auto& [area, level] : large_) visit(area, level);
        }

    private:
        std::vector<Level> small_;
        std::unordered_map<std::uint64_t, Level> large_;
        std::size_t size_ = 0;
    };

    // The working state of one cluster, in one cache line: the merge pass
    // reads and updates all of it for both clusters of every merge, and a
    // photograph has about a million clusters.
    struct alignas(64) Node {
        // Colour sums of the listed pixels, layers included.
        std::uint64_t r = 0, g = 0, b = 0, a = 0;
        Rect rect;  // bounding box of the pixels added
        // The listed pixels are a chain through next_pixel_ from first_pixel
        // to last_pixel, `count` long: joining two clusters links the chains
        // in O(1) instead of copying a list. A layer keeps its count and
        // first pixel: its chain lives on as a stretch of its parent's.
        std::uint32_t first_pixel = 0;
        std::uint32_t last_pixel = 0;
        std::uint32_t count = 0;
        std::uint32_t extra = 0;  // 1 + position in extras_, or 0 for none

        ColorTotal sum() const { return {r, g, b, a, count}; }
        void add(Color c) {
            r += c.r;
            g += c.g;
            b += c.b;
            a += c.a;
        }
        void add(const Node& other) {
            r += other.r;
            g += other.g;
            b += other.b;
            a += other.a;
        }
    };
    // What only some clusters have: the colour total of the layers among
    // their pixels (their remainder is the sum less this), the pixels of the
    // hollow ones; and for a cluster emitted without being a layer, which
    // can still be merged away afterwards, the remainder it had then.
    struct Extra {
        ColorTotal layered;
        std::vector<std::uint32_t> holes;
        bool emitted = false;
        std::optional<ColorTotal> remainder_when_emptied;
    };

    // Also returns the number of pixels with a neighbour outside the image or
    // owned by another cluster.
    std::uint32_t collect_neighbours(std::uint32_t c, std::vector<std::uint32_t>& found) const;
    // The same for the cluster k being merged, into neighbour_scratch_, and
    // its pixels into pixel_scratch_: in list order, or in raster order when
    // scanning its rectangle is cheaper than following its chain.
    std::uint32_t scan_for_merge(std::uint32_t k);
    // Looks at the four neighbours of the pixel p = (x, y) of a cluster whose
    // pixels are owned by `own`: reports every other owner except 0 to
    // `found`, and returns whether p lies on the boundary (a neighbour
    // outside the image or owned by someone else).
    template <class Found>
    bool look_around(std::uint32_t p, std::uint32_t x, std::uint32_t y, std::uint32_t own, Found&& found) const {
        bool open = false;
        auto consider = [&](std::uint32_t q) {
            const std::uint32_t o = pixel_owner_[q];
            if (o == own) return;
            open = true;
            if (o != 0) found(o);
        };
        if (y > 0) consider(p - width_);
        else open = true;
        if (y + 1 < height_) consider(p + width_);
        else open = true;
        if (x > 0) consider(p - 1);
        else open = true;
        if (x + 1 < width_) consider(p + 1);
        else open = true;
        return open;
    }
    // The pixels of cluster c in list order, into `out` (replacing its content).
    void list_pixels(std::uint32_t c, std::vector<std::uint32_t>& out) const;
    Extra& extra_of(std::uint32_t c);
    // Emits cluster k without it becoming a layer.
    void emit(std::uint32_t k);
    // Cluster c in the form of the result, with or without its pixel list.
    ColorCluster record_of(std::uint32_t c, bool with_pixels) const;
    ColorTotal remainder_of(std::uint32_t c) const;
    void add_pixel(std::uint32_t c, std::uint32_t i, Color color, std::int32_t x, std::int32_t y);
    // Hands the pixel chain of `from` over to the end of the chain of `to`.
    void splice_chain(std::uint32_t from, std::uint32_t to);
    void pixel_step();
    void end_pixel_pass();
    void merge_step();
    void visit_level(std::uint64_t area);
    void merge_cluster(std::uint32_t k, std::uint64_t area);
    void prefetch_surroundings(const Node& node) const;
    Level& add_level(std::uint64_t area);
    void merge_into(std::uint32_t from, std::uint32_t to);
    // `from`'s pixels are in pixel_scratch_, listed by scan_for_merge.
    void absorb(std::uint32_t from, std::uint32_t to, bool as_layer, bool hollow);
    void add_to_new_cluster(std::uint32_t i, Color color, std::int32_t x, std::int32_t y);
    bool is_keyed(Color c) const { return keying_ && c == transparent_key_; }
    // Cluster 0 holds the keyed pixels and must come out as a shape of its own.
    bool keeps_keyed_cluster(std::uint32_t k) const { return k == 0 && keying_ && !discard_keyed_; }

    RgbaRaster image_;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint32_t pixel_count_ = 0;
    std::vector<Node> nodes_;
    std::size_t reserved_nodes_ = 0;
    // Shared with a thread that may read it while the builder is moved.
    std::unique_ptr<std::atomic<std::size_t>> records_written_ = std::make_unique<std::atomic<std::size_t>>(0);
    std::vector<Extra> extras_;
    std::vector<std::uint32_t> sunk_layers_;  // layers reported to the sink
    std::vector<std::uint32_t> next_pixel_;
    std::vector<std::uint32_t> pixel_owner_;
    std::vector<std::uint32_t> output_order_;
    Levels levels_;
    // Merge pass: the average of every cluster's sum, kept current, so that
    // comparing against a neighbour reads four bytes instead of its node.
    std::vector<Color> averages_;
    std::vector<std::uint32_t> neighbour_scratch_;
    std::vector<std::uint32_t> pixel_scratch_;
    std::vector<std::uint32_t> sort_buffer_;
    // Marks the neighbours found in the current scan (value scan_generation_).
    std::vector<std::uint32_t> seen_in_scan_;
    std::uint32_t scan_generation_ = 0;
    std::vector<MergeCandidate> candidate_scratch_;
    // The cluster being merged, as the decision callables see it.
    ColorCluster subject_;
    bool subject_has_scan_ = false;       // subject_ is the cluster scanned last
    std::uint32_t scanned_boundary_ = 0;  // its boundary pixels, holes aside
    std::uint32_t subject_owner_ = 0;     // its index, which owns its pixels
    // The edge pixel count of the subject when it has holes, taken from the
    // owners with its holes marked in hole_marks_ (one bit per pixel, all
    // clear between calls).
    std::uint32_t subject_edge_count_with_holes() const;
    mutable std::vector<std::uint64_t> hole_marks_;
    std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>> areas_ahead_;
    BuildStage stage_ = BuildStage::PixelPass;
    std::uint64_t cursor_ = 0;  // pixel pass: next pixel; merge pass: index of the next level
    std::uint32_t next_slot_ = 1;

    Color transparent_key_;
    bool keying_ = false;
    std::uint32_t merge_area_limit_;
    std::uint32_t pixels_per_step_;
    bool diagonal_joining_;
    bool discard_keyed_;
    SameColor same_color_;
    ColorDifference color_difference_;
    MergeDecision emit_as_layer_;
    MergeDecision treat_as_hole_;
    LayerSink on_layer_;
};

}  // namespace glyph
