#include <bit>
#include <cstdint>
#include <utility>
#include <vector>

#include "../failure.hpp"
#include "cluster.hpp"
#include "run_mask.hpp"
#include "set_bits.hpp"
#include "trace_elements.hpp"

namespace glyph {

namespace {

// Slot numbers are 16-bit; creating slot 65534 exhausts them.
constexpr std::uint32_t SLOT_LIMIT = 65535;

// Every set pixel of the last two rows carries the group it was added to; a
// group is a cluster as it was created. Absorbing a cluster links its group
// to the survivor's (a union-find) instead of relabelling its pixels, so two
// rows of labels are enough and every lookup still names the right slot.
struct ClusterScan {
    std::vector<std::uint32_t> above;  // group of each set pixel of the row above
    std::vector<std::uint32_t> here;   // group of each set pixel of this row so far
    std::vector<std::uint32_t> parent;   // per group
    std::vector<std::uint32_t> slot_of;  // per group; meaningful for groups that are their own parent
    std::vector<Cluster> slots;
    std::uint32_t next_slot = 0;

    std::uint32_t root(std::uint32_t group) {
        while (parent[group] != group) {
            parent[group] = parent[parent[group]];
            group = parent[group];
        }
        return group;
    }

    // Moves every point of group `from` into group `into`.
    void absorb(std::uint32_t from, std::uint32_t into) {
        Cluster& source = slots[slot_of[from]];
        Cluster& target = slots[slot_of[into]];
        target.points.insert(target.points.end(), source.points.begin(), source.points.end());
        target.rect.union_with(source.rect);
        source.points = {};
        source.rect = {};
        parent[from] = into;
    }

    std::uint32_t create(std::int32_t x, std::int32_t y) {
        Cluster fresh;
        fresh.points.push_back({x, y});
        fresh.rect = {x, y, x + 1, y + 1};
        if (next_slot < slots.size()) {
            slots[next_slot] = std::move(fresh);
        } else {
            slots.push_back(std::move(fresh));
        }
        const auto group = static_cast<std::uint32_t>(parent.size());
        parent.push_back(group);
        slot_of.push_back(next_slot);
        ++next_slot;
        if (next_slot == SLOT_LIMIT) stop("overflow");
        return group;
    }

    void visit(std::int32_t x, std::int32_t y, bool up_set, bool left_set) {
        const auto column = static_cast<std::size_t>(x);
        std::uint32_t group = 0;
        if (up_set && left_set) {
            const std::uint32_t up = root(above[column]);
            const std::uint32_t left = root(here[column - 1]);
            group = up;
            if (up != left) {
                const std::uint32_t left_slot = slot_of[left];
                if (slots[left_slot].size() > slots[slot_of[up]].size()) {
                    absorb(up, left);
                    group = left;
                } else {
                    absorb(left, up);
                    // The emptied slot is the most recent one: hand it out again.
                    if (next_slot > 0 && left_slot == next_slot - 1 && slots.size() == next_slot) {
                        next_slot = left_slot;
                    }
                }
            }
        } else if (up_set) {
            group = root(above[column]);
        } else if (left_set) {
            group = root(here[column - 1]);
        } else {
            here[column] = create(x, y);
            return;
        }
        Cluster& cluster = slots[slot_of[group]];
        cluster.points.push_back({x, y});
        cluster.rect.include_pixel(x, y);
        here[column] = group;
    }
};

}  // namespace

std::vector<Cluster> find_clusters(const BitRaster& image) {
    if (image.has_no_pixels()) return {};
    ClusterScan scan;
    scan.above.assign(image.width, 0);
    scan.here.assign(image.width, 0);
    for (std::size_t y = 0; y < image.height; ++y) {
        std::swap(scan.above, scan.here);
        const std::size_t row = y * image.width;
        for_each_set_bit(image, row, row + image.width, [&](std::size_t index) {
            const std::size_t x = index - row;
            const bool up_set = y > 0 && image.get_bit(index - image.width);
            const bool left_set = x > 0 && image.get_bit(index - 1);
            scan.visit(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), up_set, left_set);
        });
    }
    std::vector<Cluster> result;
    for (Cluster& cluster : scan.slots) {
        if (!cluster.points.empty()) result.push_back(std::move(cluster));
    }
    return result;
}

BitRaster Cluster::to_mask() const {
    BitRaster mask = BitRaster::create(static_cast<std::size_t>(rect.width()), static_cast<std::size_t>(rect.height()));
    for (const PointI p : points) {
        mask.set_pixel(static_cast<std::size_t>(p.x - rect.left), static_cast<std::size_t>(p.y - rect.top), true);
    }
    return mask;
}

CompoundPath Cluster::to_shape_path(const TraceParams& params) const {
    // A dense cluster is cut out faster through its bit mask; a sparse one
    // (a thin stroke across a large rectangle) is built from its points, so
    // that its cost does not grow with the rectangle's area.
    const auto area = static_cast<std::size_t>(rect.width()) * static_cast<std::size_t>(rect.height());
    const RunMask mask = area / 32 <= points.size() ? RunMask::from_bits(to_mask()) : RunMask::from_points(points, rect);
    return trace_mask(mask, {rect.left, rect.top}, params);
}

}  // namespace glyph
