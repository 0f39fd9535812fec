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

struct ClusterScan {
    std::vector<std::uint16_t> labels;  // slot of every visited set pixel
    std::vector<Cluster> slots;
    std::uint32_t next_slot = 0;
    std::size_t width = 0;

    // Moves every point of `from` into `into`, relabelling them.
    void absorb(std::uint16_t from, std::uint16_t into) {
        Cluster& source = slots[from];
        Cluster& target = slots[into];
        for (const PointI p : source.points) {
            labels[static_cast<std::size_t>(p.y) * width + static_cast<std::size_t>(p.x)] = into;
        }
        target.points.insert(target.points.end(), source.points.begin(), source.points.end());
        target.rect.union_with(source.rect);
        source.points = {};
        source.rect = {};
    }

    void create(std::int32_t x, std::int32_t y, std::size_t index) {
        Cluster fresh;
        fresh.points.push_back({x, y});
        fresh.rect = {x, y, x + 1, y + 1};
        if (next_slot < slots.size()) {
            slots[next_slot] = std::move(fresh);
        } else {
            slots.push_back(std::move(fresh));
        }
        labels[index] = static_cast<std::uint16_t>(next_slot);
        ++next_slot;
        if (next_slot == SLOT_LIMIT) stop("overflow");
    }

    void visit(std::int32_t x, std::int32_t y, std::size_t index, bool up_set, bool left_set) {
        std::uint16_t slot = 0;
        if (up_set && left_set) {
            const std::uint16_t up = labels[index - width];
            const std::uint16_t left = labels[index - 1];
            slot = up;
            if (up != left) {
                if (slots[left].size() > slots[up].size()) {
                    absorb(up, left);
                    slot = left;
                } else {
                    absorb(left, up);
                    // The emptied slot is the most recent one: hand it out again.
                    if (next_slot > 0 && left == next_slot - 1 && slots.size() == next_slot) {
                        next_slot = left;
                    }
                }
            }
        } else if (up_set) {
            slot = labels[index - width];
        } else if (left_set) {
            slot = labels[index - 1];
        } else {
            create(x, y, index);
            return;
        }
        Cluster& cluster = slots[slot];
        cluster.points.push_back({x, y});
        cluster.rect.include_pixel(x, y);
        labels[index] = slot;
    }
};

}  // namespace

std::vector<Cluster> find_clusters(const BitRaster& image) {
    if (image.has_no_pixels()) return {};
    ClusterScan scan;
    scan.width = image.width;
    scan.labels.assign(image.bit_count(), 0);
    for (std::size_t y = 0; y < image.height; ++y) {
        const std::size_t row = y * image.width;
        for_each_set_bit(image, row, row + image.width, [&](std::size_t index) {
            const std::size_t x = index - row;
            const bool up_set = y > 0 && image.get_bit(index - image.width);
            const bool left_set = x > 0 && image.get_bit(index - 1);
            scan.visit(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y), index, up_set, left_set);
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
