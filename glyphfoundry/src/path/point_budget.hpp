#pragma once
// Bounds the points that smoothing may create over one whole conversion, so
// that extreme settings fail with MemoryError instead of exhausting memory.
#include <cstdint>

#include "../failure.hpp"

namespace glyph {

inline constexpr std::uint64_t MAX_SMOOTHED_POINTS = std::uint64_t{1} << 26;

struct PointBudget {
    std::uint64_t remaining = MAX_SMOOTHED_POINTS;

    // Throws MemoryLimitExceeded when `count` more points would exceed the bound.
    void spend(std::uint64_t count) {
        if (count > remaining) {
            throw MemoryLimitExceeded(
                "smoothing would create too many points; a larger length_threshold or a smaller "
                "max_iterations avoids it");
        }
        remaining -= count;
    }
};

}  // namespace glyph
