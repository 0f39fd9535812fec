#pragma once
// Bounds the points that smoothing may create over one whole conversion, so
// that extreme settings fail with MemoryError instead of exhausting memory.
// Outlines may be traced on several threads at once, so the count is atomic.
#include <atomic>
#include <cstdint>

#include "../failure.hpp"

namespace glyph {

inline constexpr std::uint64_t MAX_SMOOTHED_POINTS = std::uint64_t{1} << 26;

struct PointBudget {
    std::atomic<std::uint64_t> remaining = MAX_SMOOTHED_POINTS;

    // Throws MemoryLimitExceeded when `count` more points would exceed the
    // bound; a refused charge takes nothing.
    void spend(std::uint64_t count) {
        std::uint64_t left = remaining.load(std::memory_order_relaxed);
        do {
            if (count > left) {
                throw MemoryLimitExceeded(
                    "smoothing would create too many points; a larger length_threshold or a smaller "
                    "max_iterations avoids it");
            }
        } while (!remaining.compare_exchange_weak(left, left - count, std::memory_order_relaxed));
    }
};

}  // namespace glyph
