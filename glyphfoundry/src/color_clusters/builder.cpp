#include "builder.hpp"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>

#include "../failure.hpp"

namespace glyph {

namespace {

std::uint32_t saturate_u32(std::size_t value) {
    return value > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                              : static_cast<std::uint32_t>(value);
}

// Sort key of a merge candidate: difference first, then index, mixed into
// one number so that a large index can outrank a smaller difference.
std::int64_t candidate_key(const MergeCandidate& c) {
    return std::int64_t{c.difference} * 65535 + std::int64_t{c.index};
}

// Orders candidates by key, equal keys by index: the order a stable sort by
// key gives a list that comes in ascending index order. The two to four
// candidates of most clusters go through a sorting network whose exchanges
// compile to conditional moves, since their order is unpredictable.
void sort_candidates(std::vector<MergeCandidate>& candidates) {
    auto before = [](const MergeCandidate& a, const MergeCandidate& b) {
        const std::int64_t ka = candidate_key(a);
        const std::int64_t kb = candidate_key(b);
        return ka < kb || (ka == kb && a.index < b.index);
    };
    auto exchange = [&](MergeCandidate& a, MergeCandidate& b) {
        const bool swap = before(b, a);
        const MergeCandidate low = swap ? b : a;
        const MergeCandidate high = swap ? a : b;
        a = low;
        b = high;
    };
    MergeCandidate* c = candidates.data();
    switch (candidates.size()) {
        case 0:
        case 1: return;
        case 2: exchange(c[0], c[1]); return;
        case 3:
            exchange(c[0], c[1]);
            exchange(c[1], c[2]);
            exchange(c[0], c[1]);
            return;
        case 4:
            exchange(c[0], c[1]);
            exchange(c[2], c[3]);
            exchange(c[0], c[2]);
            exchange(c[1], c[3]);
            exchange(c[1], c[2]);
            return;
        default: std::sort(candidates.begin(), candidates.end(), before);
    }
}

// Ascending order; insertion sort for the short lists most clusters have.
void sort_small_first(std::vector<std::uint32_t>& values) {
    if (values.size() > 16) {
        std::sort(values.begin(), values.end());
        return;
    }
    for (std::size_t i = 1; i < values.size(); ++i) {
        const std::uint32_t moving = values[i];
        std::size_t j = i;
        for (; j > 0 && moving < values[j - 1]; --j) values[j] = values[j - 1];
        values[j] = moving;
    }
}

// Ascending order of many cluster indices below `bound`: least significant
// digit first, 11 bits per pass, through `buffer`.
void radix_sort(std::vector<std::uint32_t>& values, std::uint32_t bound, std::vector<std::uint32_t>& buffer) {
    constexpr unsigned DIGIT_BITS = 11;
    constexpr std::uint32_t DIGITS = 1u << DIGIT_BITS;
    buffer.resize(values.size());
    std::vector<std::uint32_t> counts(DIGITS);
    for (unsigned shift = 0; shift < 32 && (bound - 1) >> shift != 0; shift += DIGIT_BITS) {
        std::fill(counts.begin(), counts.end(), 0);
        for (std::uint32_t v : values) ++counts[(v >> shift) & (DIGITS - 1)];
        std::uint32_t position = 0;
        for (std::uint32_t& count : counts) {
            const std::uint32_t here = count;
            count = position;
            position += here;
        }
        for (std::uint32_t v : values) buffer[counts[(v >> shift) & (DIGITS - 1)]++] = v;
        values.swap(buffer);
    }
}

}  // namespace

ClusterBuilder::ClusterBuilder(BuilderSettings settings)
    : image_(std::move(settings.image)),
      transparent_key_(settings.transparent_key),
      merge_area_limit_(settings.merge_area_limit),
      pixels_per_step_(settings.pixels_per_step),
      diagonal_joining_(settings.diagonal_joining),
      discard_keyed_(settings.discard_keyed),
      same_color_(std::move(settings.same_color)),
      color_difference_(std::move(settings.color_difference)),
      emit_as_layer_(std::move(settings.emit_as_layer)),
      treat_as_hole_(std::move(settings.treat_as_hole)),
      on_layer_(std::move(settings.on_layer)) {
    const std::size_t pixel_count = image_.pixel_count();
    if (pixel_count > std::numeric_limits<std::uint32_t>::max()) {
        throw MemoryLimitExceeded("the picture has too many pixels for colour clustering");
    }
    pixel_count_ = static_cast<std::uint32_t>(pixel_count);
    width_ = saturate_u32(image_.width);
    height_ = saturate_u32(image_.height);
    keying_ = transparent_key_ != Color{0, 0, 0, 0};
    // Photographs make about one cluster per two pixels. Reserving room for
    // one per pixel, up to a bound, spares the pass the copies of a growing
    // list; the pages are only taken when used.
    constexpr std::size_t RESERVED_CLUSTERS = std::size_t{1} << 21;
    nodes_.reserve(std::min(pixel_count + 1, RESERVED_CLUSTERS));
    reserved_nodes_ = nodes_.capacity();
    nodes_.resize(1);
    pixel_owner_.assign(pixel_count, 0);
    next_pixel_.resize(pixel_count);
}

bool ClusterBuilder::step() {
    switch (stage_) {
        case BuildStage::PixelPass: pixel_step(); return false;
        case BuildStage::MergePass: merge_step(); return false;
        case BuildStage::Finished: return true;
    }
    return true;
}

ClusterSet ClusterBuilder::finish() && {
    ClusterSet result;
    result.width = width_;
    result.height = height_;
    result.image = std::move(image_);
    const auto cluster_count = static_cast<std::uint32_t>(nodes_.size());
    result.slot_count = cluster_count;
    std::sort(sunk_layers_.begin(), sunk_layers_.end());
    // A kept cluster that owns exactly the pixels it lists (all but layers,
    // whose pixels their parents own, and cluster 0, which owns the keyed
    // pixels it discarded) gets its list from one pass over the owners,
    // instead of from a chain that jumps all over the picture.
    constexpr std::uint32_t NOT_GATHERED = 0xFFFFFFFFu;
    std::vector<std::uint32_t>& gathered_at = seen_in_scan_;
    gathered_at.assign(cluster_count, NOT_GATHERED);
    bool gathering = false;
    auto sunk = sunk_layers_.begin();
    for (std::uint32_t k = 0; k < cluster_count; ++k) {
        const Node& node = nodes_[k];
        if (node.count == 0) {
            // Emitted, then merged away: drawn without pixels.
            if (node.extra != 0 && extras_[node.extra - 1].remainder_when_emptied) result.keep(k, record_of(k, false));
            continue;
        }
        if (sunk != sunk_layers_.end() && *sunk == k) {
            ++sunk;
            continue;
        }
        const bool owns_its_pixels = k != 0 && pixel_owner_[node.first_pixel] == k;
        ColorCluster kept = record_of(k, !owns_its_pixels);
        if (owns_its_pixels) {
            kept.pixels.reserve(node.count);
            gathered_at[k] = static_cast<std::uint32_t>(result.kept_clusters.size());
            gathering = true;
        }
        result.keep(k, std::move(kept));
    }
    if (gathering) {
        for (std::uint32_t p = 0; p < pixel_count_; ++p) {
            const std::uint32_t at = gathered_at[pixel_owner_[p]];
            if (at != NOT_GATHERED) result.kept_clusters[at].pixels.push_back(p);
        }
    }
    std::vector<std::uint32_t>().swap(seen_in_scan_);
    std::vector<Node>().swap(nodes_);
    result.pixel_owner = std::move(pixel_owner_);
    result.output_order = std::move(output_order_);
    if (keying_ && !discard_keyed_) result.keyed_cluster_color = transparent_key_;
    return result;
}

std::uint64_t ClusterBuilder::pixels_read_by_next_step() const {
    // A step of the pixel pass reads its own pixels and ones before them.
    if (stage_ != BuildStage::PixelPass) return pixel_count_;
    const std::uint64_t slice = std::max<std::uint32_t>(pixels_per_step_, 1);
    return std::min<std::uint64_t>(cursor_ + slice, pixel_count_);
}

ClusterBuilder::RecordStorage ClusterBuilder::record_storage() const {
    return {nodes_.data(), reserved_nodes_ * sizeof(Node), records_written_.get()};
}

std::vector<AreaLevel> ClusterBuilder::area_levels() const {
    std::vector<AreaLevel> out;
    out.reserve(levels_.size());
    levels_.for_each([&](std::uint64_t area, const Level& level) { out.push_back({area, level.count}); });
    std::sort(out.begin(), out.end(), [](const AreaLevel& a, const AreaLevel& b) { return a.area < b.area; });
    return out;
}

std::vector<std::uint32_t> ClusterBuilder::neighbours(std::uint32_t c) const {
    std::vector<std::uint32_t> found;
    collect_neighbours(c, found);
    return found;
}

ColorCluster ClusterBuilder::record_of(std::uint32_t c, bool with_pixels) const {
    const Node& node = nodes_[c];
    ColorCluster cluster;
    if (with_pixels) list_pixels(c, cluster.pixels);
    cluster.rect = node.rect;
    cluster.sum = node.sum();
    cluster.remainder = remainder_of(c);
    if (node.extra != 0) cluster.holes = extras_[node.extra - 1].holes;
    return cluster;
}

void ClusterBuilder::list_pixels(std::uint32_t c, std::vector<std::uint32_t>& out) const {
    const std::uint32_t count = nodes_[c].count;
    out.resize(count);
    if (count == 0) return;
    std::uint32_t p = nodes_[c].first_pixel;
    out[0] = p;
    for (std::uint32_t n = 1; n < count; ++n) {
        p = next_pixel_[p];
        out[n] = p;
    }
}

ClusterBuilder::Extra& ClusterBuilder::extra_of(std::uint32_t c) {
    Node& node = nodes_[c];
    if (node.extra == 0) {
        extras_.emplace_back();
        node.extra = static_cast<std::uint32_t>(extras_.size());
    }
    return extras_[node.extra - 1];
}

ColorTotal ClusterBuilder::remainder_of(std::uint32_t c) const {
    const Node& node = nodes_[c];
    ColorTotal remainder = node.sum();
    if (node.extra != 0) {
        const Extra& extra = extras_[node.extra - 1];
        if (node.count == 0 && extra.remainder_when_emptied) return *extra.remainder_when_emptied;
        const ColorTotal& layered = extra.layered;
        remainder.r -= layered.r;
        remainder.g -= layered.g;
        remainder.b -= layered.b;
        remainder.a -= layered.a;
        remainder.count -= layered.count;
    }
    return remainder;
}

void ClusterBuilder::add_pixel(std::uint32_t c, std::uint32_t i, Color color, std::int32_t x, std::int32_t y) {
    Node& node = nodes_[c];
    if (node.count == 0) node.first_pixel = i;
    else next_pixel_[node.last_pixel] = i;
    node.last_pixel = i;
    ++node.count;
    node.add(color);
    node.rect.include_pixel(x, y);
}

void ClusterBuilder::splice_chain(std::uint32_t from, std::uint32_t to) {
    const Node& source = nodes_[from];
    Node& target = nodes_[to];
    if (source.count == 0) return;
    if (target.count == 0) {
        target.first_pixel = source.first_pixel;
        target.last_pixel = source.last_pixel;
    } else {
        // In front: the link written is the one at the end of `from`'s
        // chain, whose pixels were just visited, rather than one at the end
        // of `to`'s, anywhere in the picture.
        next_pixel_[source.last_pixel] = target.first_pixel;
        target.first_pixel = source.first_pixel;
    }
    target.count += source.count;
}

std::uint32_t ClusterBuilder::collect_neighbours(std::uint32_t c, std::vector<std::uint32_t>& found) const {
    found.clear();
    std::vector<std::uint32_t> pixels;
    list_pixels(c, pixels);
    if (pixels.empty()) return 0;
    const std::uint32_t own = pixel_owner_[pixels.front()];
    std::uint32_t boundary = 0;
    for (std::uint32_t p : pixels) {
        const std::uint32_t y = p / width_;
        if (look_around(p, p - y * width_, y, own, [&](std::uint32_t o) { found.push_back(o); })) ++boundary;
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return boundary;
}

std::uint32_t ClusterBuilder::scan_for_merge(std::uint32_t k) {
    std::vector<std::uint32_t>& found = neighbour_scratch_;
    std::vector<std::uint32_t>& pixels = pixel_scratch_;
    found.clear();
    pixels.clear();
    const Node& node = nodes_[k];
    const std::uint32_t count = node.count;
    if (count == 0) return 0;
    const std::uint32_t own = pixel_owner_[node.first_pixel];
    if (count == 1 && k != 0) {
        // Half the clusters of a photograph: up to four neighbours, and a
        // pixel no neighbour of which it owns is on the boundary.
        const std::uint32_t p = node.first_pixel;
        const std::uint32_t y = p / width_;
        const std::uint32_t x = p - y * width_;
        std::uint32_t around[4];
        std::size_t n = 0;
        auto consider = [&](std::uint32_t q) {
            const std::uint32_t o = pixel_owner_[q];
            if (o != own && o != 0) around[n++] = o;
        };
        if (y > 0) consider(p - width_);
        if (y + 1 < height_) consider(p + width_);
        if (x > 0) consider(p - 1);
        if (x + 1 < width_) consider(p + 1);
        pixels.push_back(p);
        for (std::size_t i = 0; i < n; ++i) {
            if (std::find(found.begin(), found.end(), around[i]) == found.end()) {
                __builtin_prefetch(&nodes_[around[i]]);
                __builtin_prefetch(&averages_[around[i]]);
                found.push_back(around[i]);
            }
        }
        sort_small_first(found);
        return 1;
    }
    // A small cluster has few neighbours: a look through the short list beats
    // a mark far away in memory.
    constexpr std::uint32_t FEW_PIXELS = 16;
    const bool few_pixels = count <= FEW_PIXELS;
    if (!few_pixels && ++scan_generation_ == 0) {
        std::fill(seen_in_scan_.begin(), seen_in_scan_.end(), 0);
        scan_generation_ = 1;
    }
    // Boundary pixels mostly meet the neighbour they met just before.
    std::uint32_t last_noted = own;
    auto note = [&](std::uint32_t o) {
        if (o == last_noted) return;
        last_noted = o;
        if (few_pixels) {
            if (std::find(found.begin(), found.end(), o) != found.end()) return;
        } else {
            if (seen_in_scan_[o] == scan_generation_) return;
            seen_in_scan_[o] = scan_generation_;
        }
        // The neighbour chosen is absorbed into right after the decision.
        __builtin_prefetch(&nodes_[o]);
        __builtin_prefetch(&averages_[o]);
        found.push_back(o);
    };
    std::uint32_t boundary = 0;
    // Outside cluster 0 (which keyed pixels it does not list are owned by),
    // the pixels owned by k are exactly its list, so a compact cluster is
    // found faster by reading its rectangle row by row.
    auto compact = [&] {
        constexpr std::uint32_t MIN_SCANNED_AREA = 4;
        if (k == 0 || own != k || count < MIN_SCANNED_AREA) return false;
        const Rect& rect = node.rect;
        const std::uint64_t rect_area =
            static_cast<std::uint64_t>(rect.width()) * static_cast<std::uint64_t>(rect.height());
        return rect_area <= 8 * std::uint64_t{count};
    };
    if (compact()) {
        const Rect& rect = node.rect;
        pixels.resize(count);
        std::uint32_t* out = pixels.data();
        const std::uint32_t* owners = pixel_owner_.data();
        const std::uint32_t w = width_;
        const auto left = static_cast<std::uint32_t>(rect.left);
        const auto right = static_cast<std::uint32_t>(rect.right);
        // Columns whose left and right neighbours lie in the image.
        const std::uint32_t inner_left = std::max(left, 1u);
        const std::uint32_t inner_right = std::min(right, w - 1);
        std::uint32_t listed = 0;
        for (auto y = static_cast<std::uint32_t>(rect.top); y < static_cast<std::uint32_t>(rect.bottom); ++y) {
            const std::uint32_t row_start = y * w;
            const std::uint32_t* row = owners + row_start;
            // Most pixels of a large cluster are interior: for rows with a row
            // above and below, those are recognised by four comparisons.
            const bool inner_row = y > 0 && y + 1 < height_;
            const std::uint32_t* up = inner_row ? row - w : row;
            const std::uint32_t* down = inner_row ? row + w : row;
            // The row after next is the next row's lower neighbour: fetch it
            // while this one is scanned.
            if (y + 2 < height_) {
                const std::uint32_t* ahead = row + 2 * std::size_t{w};
                for (std::uint32_t x = left; x < right; x += 16) __builtin_prefetch(ahead + x);
                __builtin_prefetch(ahead + right - 1);
            }
            for (std::uint32_t x = left; x < right; ++x) {
                if (row[x] != own) continue;
                const std::uint32_t p = row_start + x;
                out[listed++] = p;
                if (inner_row && x >= inner_left && x < inner_right &&
                    ((up[x] == own) & (down[x] == own) & (row[x - 1] == own) & (row[x + 1] == own))) {
                    continue;
                }
                if (look_around(p, x, y, own, note)) ++boundary;
            }
        }
        // The rectangle holds exactly the listed pixels; anything else would
        // be a broken invariant, and the list is cut to what was found.
        pixels.resize(listed);
    } else {
        pixels.resize(count);
        std::uint32_t p = node.first_pixel;
        for (std::uint32_t n = 0; n < count; ++n) {
            pixels[n] = p;
            const std::uint32_t y = p / width_;
            if (look_around(p, p - y * width_, y, own, note)) ++boundary;
            p = next_pixel_[p];
        }
    }
    sort_small_first(found);
    return boundary;
}

std::uint32_t ClusterBuilder::edge_pixel_count(const ColorCluster& cluster) const {
    // Cluster 0 is left out: discarded keyed pixels are owned by 0 without
    // belonging to it.
    if (subject_has_scan_ && &cluster == &subject_) {
        return cluster.holes.empty() ? scanned_boundary_ : subject_edge_count_with_holes();
    }
    return cluster.edge_pixel_count(width_);
}

std::uint32_t ClusterBuilder::subject_edge_count_with_holes() const {
    // The subject owns exactly its pixels, holes included: a pixel is in its
    // mask when it is owned by it and not marked as a hole.
    std::vector<std::uint64_t>& marks = hole_marks_;
    if (marks.empty()) marks.assign((std::size_t{pixel_count_} + 63) / 64, 0);
    auto bit = [](std::uint32_t p) { return std::uint64_t{1} << (p & 63); };
    for (std::uint32_t h : subject_.holes) marks[h >> 6] |= bit(h);
    const std::uint32_t own = subject_owner_;
    auto in_mask = [&](std::uint32_t q) { return pixel_owner_[q] == own && (marks[q >> 6] & bit(q)) == 0; };
    std::uint32_t count = 0;
    for (std::uint32_t p : subject_.pixels) {
        if ((marks[p >> 6] & bit(p)) != 0) continue;
        const std::uint32_t y = p / width_;
        const std::uint32_t x = p - y * width_;
        const bool interior = y > 0 && y + 1 < height_ && x > 0 && x + 1 < width_ && in_mask(p - width_) &&
                              in_mask(p + width_) && in_mask(p - 1) && in_mask(p + 1);
        if (!interior) ++count;
    }
    for (std::uint32_t h : subject_.holes) marks[h >> 6] &= ~bit(h);
    return count;
}

void ClusterBuilder::merge_into(std::uint32_t from, std::uint32_t to) {
    // Pixel pass only: the chains hold every pixel, and there are no layers.
    Node& source = nodes_[from];
    Node& target = nodes_[to];
    std::uint32_t p = source.first_pixel;
    for (std::uint32_t n = source.count; n > 0; --n) {
        pixel_owner_[p] = to;
        p = next_pixel_[p];
    }
    splice_chain(from, to);
    target.add(source);
    target.rect.union_with(source.rect);
    source = Node{};
}

void ClusterBuilder::absorb(std::uint32_t from, std::uint32_t to, bool as_layer, bool hollow) {
    const std::vector<std::uint32_t>& pixels = pixel_scratch_;
    for (std::uint32_t p : pixels) pixel_owner_[p] = to;
    splice_chain(from, to);
    {
        Node& source = nodes_[from];
        Node& target = nodes_[to];
        target.add(source);
        target.rect.union_with(source.rect);
    }
    // The remainder (sum less layers) of `to` grows by that of `from`; a
    // layer's pixels count as layers of `to`.
    const ColorTotal layered = as_layer ? nodes_[from].sum()
                               : nodes_[from].extra != 0 ? extras_[nodes_[from].extra - 1].layered
                                                          : ColorTotal{};
    if (layered.count != 0) extra_of(to).layered.add(layered);
    if (!as_layer) {
        const std::uint32_t extra = nodes_[from].extra;
        if (extra != 0 && extras_[extra - 1].emitted) {
            // Emitted before (with no neighbours then, or above the merge
            // area limit) and merged away now: it is still drawn, without
            // pixels, in the colour of the remainder it has now, and keeps
            // its holes.
            extras_[extra - 1].remainder_when_emptied = remainder_of(from);
            nodes_[from] = Node{};
            nodes_[from].extra = extra;
            return;
        }
        nodes_[from] = Node{};
        if (extra != 0) extras_[extra - 1] = Extra{};
        return;
    }
    // A layer hands its pixels to `to` but keeps its own list, colour and
    // rectangle for drawing; `to` does not take on its colour. Its chain is
    // now a stretch of `to`'s chain; splicing only ever relinks the ends of
    // chains, so the stretch stays intact and still lists the layer's pixels.
    if (!hollow) return;
    std::vector<std::uint32_t>& holes = extra_of(to).holes;
    holes.insert(holes.end(), pixels.begin(), pixels.end());
}

void ClusterBuilder::add_to_new_cluster(std::uint32_t i, Color color, std::int32_t x, std::int32_t y) {
    if (next_slot_ < nodes_.size()) nodes_[next_slot_] = Node{};
    else nodes_.emplace_back();
    add_pixel(next_slot_, i, color, x, y);
    pixel_owner_[i] = next_slot_;
    ++next_slot_;
}

void ClusterBuilder::pixel_step() {
    // A zero slice would never end the pass.
    const std::uint64_t slice = std::max<std::uint32_t>(pixels_per_step_, 1);
    const std::uint64_t end = std::min<std::uint64_t>(cursor_ + slice, pixel_count_);
    const std::uint32_t w = width_;
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    if (cursor_ < end) {
        y = static_cast<std::uint32_t>(cursor_ / w);
        x = static_cast<std::uint32_t>(cursor_ - std::uint64_t{y} * w);
    }
    for (std::uint64_t ii = cursor_; ii < end; ++ii, ++x) {
        if (x == w) {
            x = 0;
            ++y;
        }
        const auto i = static_cast<std::uint32_t>(ii);
        const auto xi = static_cast<std::int32_t>(x);
        const auto yi = static_cast<std::int32_t>(y);
        const Color cur = image_.pixel_at(i);
        const bool has_up = y > 0;
        const bool has_left = x > 0;
        const bool has_upleft = has_up && has_left;
        const Color up = has_up ? image_.pixel_at(i - w) : Color{};
        const Color left = has_left ? image_.pixel_at(i - 1) : Color{};
        const Color upleft = has_upleft ? image_.pixel_at(i - w - 1) : Color{};
        std::uint32_t up_c = has_up ? pixel_owner_[i - w] : 0;
        std::uint32_t left_c = has_left ? pixel_owner_[i - 1] : 0;
        // Read before the merge below and deliberately not updated by it.
        const std::uint32_t upleft_c = has_upleft ? pixel_owner_[i - w - 1] : 0;

        // The pixel shows that the clusters above and to the left touch.
        if (has_up && has_left && left_c != up_c && same_color_(left, up) &&
            (diagonal_joining_ || (same_color_(cur, left) && same_color_(cur, up)))) {
            if (nodes_[left_c].count > nodes_[up_c].count) {
                merge_into(up_c, left_c);
                up_c = left_c;
            } else {
                merge_into(left_c, up_c);
                // Reuse the emptied last slot for the next new cluster.
                if (left_c == next_slot_ - 1 && nodes_.size() == next_slot_) next_slot_ = left_c;
                left_c = up_c;
            }
        }

        if (is_keyed(cur)) {
            if (!discard_keyed_) add_pixel(0, i, cur, xi, yi);  // owner stays 0
            continue;
        }

        const bool matches_upleft = has_upleft && same_color_(cur, upleft);
        if (matches_upleft && same_color_(cur, up)) {
            pixel_owner_[i] = up_c;
            add_pixel(up_c, i, cur, xi, yi);
        } else if (matches_upleft && same_color_(cur, left)) {
            pixel_owner_[i] = left_c;
            add_pixel(left_c, i, cur, xi, yi);
        } else if (diagonal_joining_ && matches_upleft) {
            pixel_owner_[i] = upleft_c;
            add_pixel(upleft_c, i, cur, xi, yi);
            // The up-left cluster may be the slot just emptied and marked for
            // reuse; the pixel revives it, so the next new cluster must not
            // take the slot over.
            if (upleft_c == next_slot_ && next_slot_ < nodes_.size()) next_slot_ = upleft_c + 1;
        } else {
            add_to_new_cluster(i, cur, xi, yi);
        }
    }
    cursor_ += slice;
    if (cursor_ < pixel_count_) {
        const bool outgrown = nodes_.capacity() != reserved_nodes_;
        records_written_->store(outgrown ? RECORDS_SETTLED : nodes_.size() * sizeof(Node), std::memory_order_relaxed);
        return;
    }
    records_written_->store(RECORDS_SETTLED, std::memory_order_relaxed);
    end_pixel_pass();
}

void ClusterBuilder::end_pixel_pass() {
    // One walk over the cluster records; the rest works on their areas.
    const auto cluster_count = static_cast<std::uint32_t>(nodes_.size());
    std::vector<std::uint32_t> areas(cluster_count);
    if (merge_area_limit_ != 0) seen_in_scan_.assign(cluster_count, 0);
    averages_.resize(cluster_count);
    for (std::uint32_t k = 0; k < cluster_count; ++k) {
        const Node& node = nodes_[k];
        areas[k] = node.count;
        if (node.count != 0) averages_[k] = node.sum().average();
    }
    // Count clusters per area, then fill every level's arrivals in index
    // order.
    constexpr std::uint64_t SMALL_AREAS = 65536;
    levels_.set_small_limit(std::min<std::uint64_t>(SMALL_AREAS, std::uint64_t{pixel_count_} + 1));
    for (std::uint32_t area : areas) {
        if (area != 0) ++add_level(area).count;
    }
    for (std::uint32_t k = 0; k < cluster_count; ++k) {
        const std::uint32_t area = areas[k];
        if (area == 0) continue;
        Level& level = *levels_.find(area);
        if (level.arrivals.empty()) level.arrivals.reserve(level.count);
        level.arrivals.push_back(k);
    }
    if (merge_area_limit_ == 0) {
        // No merging: every cluster is emitted, by area, then index.
        std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed;
        for (std::uint32_t k = 0; k < cluster_count; ++k) {
            const std::uint64_t area = areas[k];
            if (area != 0) keyed.emplace_back(area * 65535 + k, k);
        }
        std::stable_sort(keyed.begin(), keyed.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& entry : keyed) output_order_.push_back(entry.second);
        std::vector<Color>().swap(averages_);
        stage_ = BuildStage::Finished;
        return;
    }
    stage_ = BuildStage::MergePass;
    cursor_ = 0;
}

ClusterBuilder::Level& ClusterBuilder::add_level(std::uint64_t area) {
    const auto [level, added] = levels_.find_or_add(area);
    if (added) areas_ahead_.push(area);
    return *level;
}

void ClusterBuilder::merge_step() {
    const std::uint64_t levels_this_step = std::max<std::uint64_t>(cursor_ / 16, 1);
    if (levels_.empty()) {
        stage_ = BuildStage::Finished;
        cursor_ = 0;
        return;
    }
    for (std::uint64_t done = 0;;) {
        const std::uint64_t area = areas_ahead_.top();
        areas_ahead_.pop();
        visit_level(area);
        ++cursor_;
        if (areas_ahead_.empty()) {
            stage_ = BuildStage::Finished;
            cursor_ = 0;
            return;
        }
        if (++done == levels_this_step) return;
    }
}

void ClusterBuilder::visit_level(std::uint64_t area) {
    // The clusters whose pixel count is this level's area are exactly those
    // that arrived here and have not moved on. None can arrive while the level
    // is visited: a cluster that absorbs one of this area grows beyond it.
    Level& level = *levels_.find(area);
    std::vector<std::uint32_t> arrivals = std::move(level.arrivals);
    level.arrivals = {};
    if (level.count == 0) return;
    if (!std::is_sorted(arrivals.begin(), arrivals.end())) {
        constexpr std::size_t FEW_ARRIVALS = 256;
        if (arrivals.size() <= FEW_ARRIVALS) {
            std::sort(arrivals.begin(), arrivals.end());
        } else {
            radix_sort(arrivals, static_cast<std::uint32_t>(nodes_.size()), sort_buffer_);
        }
    }
    arrivals.erase(std::unique(arrivals.begin(), arrivals.end()), arrivals.end());
    // The records of the clusters ahead are fetched while earlier ones are
    // merged: the walk jumps through memory far larger than the caches.
    constexpr std::size_t RECORDS_AHEAD = 8;
    constexpr std::size_t PIXELS_AHEAD = 4;
    const std::size_t count = arrivals.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (i + RECORDS_AHEAD < count) {
            const std::uint32_t ahead = arrivals[i + RECORDS_AHEAD];
            __builtin_prefetch(&nodes_[ahead]);
            __builtin_prefetch(&averages_[ahead]);
        }
        if (i + PIXELS_AHEAD < count) {
            const Node& ahead = nodes_[arrivals[i + PIXELS_AHEAD]];
            if (ahead.count == area) prefetch_surroundings(ahead);
        }
        const std::uint32_t k = arrivals[i];
        if (nodes_[k].count == area) merge_cluster(k, area);
    }
}

void ClusterBuilder::emit(std::uint32_t k) {
    output_order_.push_back(k);
    extra_of(k).emitted = true;
}

void ClusterBuilder::prefetch_surroundings(const Node& node) const {
    // The owners of the rows around a small cluster's rectangle: its scan
    // reads them all, and the clusters of one level lie far apart.
    constexpr std::int32_t MAX_ROWS = 8;
    const Rect& rect = node.rect;
    if (rect.height() <= MAX_ROWS && rect.width() <= 16) {
        const std::int32_t top = std::max(rect.top - 1, 0);
        const std::int32_t bottom = std::min(rect.bottom + 1, static_cast<std::int32_t>(height_));
        const std::int32_t left = std::max(rect.left - 1, 0);
        const std::int32_t right = std::min(rect.right, static_cast<std::int32_t>(width_) - 1);
        for (std::int32_t y = top; y < bottom; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * width_;
            __builtin_prefetch(&pixel_owner_[row + static_cast<std::size_t>(left)]);
            __builtin_prefetch(&pixel_owner_[row + static_cast<std::size_t>(right)]);
        }
    } else {
        const std::uint32_t first = node.first_pixel;
        __builtin_prefetch(&pixel_owner_[first]);
        if (first >= width_) __builtin_prefetch(&pixel_owner_[first - width_]);
        if (std::size_t{first} + width_ < pixel_owner_.size()) __builtin_prefetch(&pixel_owner_[first + width_]);
    }
    __builtin_prefetch(&next_pixel_[node.first_pixel]);
}

void ClusterBuilder::merge_cluster(std::uint32_t k, std::uint64_t area) {
    if (area > merge_area_limit_) {
        emit(k);
        return;
    }
    const Color color = averages_[k];
    std::vector<std::uint32_t>& neighbour_list = neighbour_scratch_;
    scanned_boundary_ = scan_for_merge(k);
    if (neighbour_list.empty()) {
        const bool last_level = areas_ahead_.empty();
        if (last_level || (discard_keyed_ && keying_) || keeps_keyed_cluster(k)) emit(k);
        return;
    }
    std::vector<MergeCandidate>& candidates = candidate_scratch_;
    candidates.clear();
    for (std::uint32_t n : neighbour_list) candidates.push_back({n, color_difference_(color, averages_[n])});
    sort_candidates(candidates);
    const std::uint32_t best = candidates.front().index;
    // Fetch what absorbing into `best` touches while the callables decide.
    __builtin_prefetch(&nodes_[best]);

    // The callables see the cluster with its pixel list filled in.
    const Node& node = nodes_[k];
    ColorCluster& cluster = subject_;
    cluster.pixels.swap(pixel_scratch_);
    cluster.rect = node.rect;
    cluster.sum = node.sum();
    cluster.remainder = remainder_of(k);
    std::vector<std::uint32_t>* holes = node.extra != 0 ? &extras_[node.extra - 1].holes : nullptr;
    if (holes != nullptr) cluster.holes.swap(*holes);
    // Cluster 0's count is taken from its mask: discarded keyed pixels are
    // owned by 0 without belonging to it.
    subject_has_scan_ = k != 0;
    subject_owner_ = k;
    bool as_layer = merge_area_limit_ == NO_MERGE_AREA_LIMIT && emit_as_layer_(*this, cluster, candidates);
    if (keeps_keyed_cluster(k)) as_layer = true;
    const bool hollow = treat_as_hole_(*this, cluster, candidates);
    subject_has_scan_ = false;
    cluster.pixels.swap(pixel_scratch_);
    if (holes != nullptr) cluster.holes.swap(*holes);
    cluster.holes.clear();
    if (as_layer) output_order_.push_back(k);

    if (Level* old_level = levels_.find(nodes_[best].count)) --old_level->count;
    absorb(k, best, as_layer, hollow);
    averages_[best] = nodes_[best].sum().average();
    if (as_layer && on_layer_) {
        // Nothing is ever added to a layer: its pixels (as scanned), and its
        // holes can be handed over.
        sunk_layers_.push_back(k);
        EmittedLayer layer;
        layer.index = k;
        const Node& emitted = nodes_[k];
        layer.cluster.pixels = std::move(pixel_scratch_);
        layer.cluster.rect = emitted.rect;
        layer.cluster.sum = emitted.sum();
        layer.cluster.remainder = remainder_of(k);
        if (emitted.extra != 0) layer.cluster.holes = std::move(extras_[emitted.extra - 1].holes);
        pixel_scratch_ = on_layer_(std::move(layer));
        pixel_scratch_.clear();
    }
    Level& grown = add_level(nodes_[best].count);
    ++grown.count;
    grown.arrivals.push_back(best);
}

}  // namespace glyph
