#pragma once
// Tracing the shapes of a conversion on several threads, with the result and
// the failure of tracing them one after the other.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "../../../glyphfoundry/src/path/point_budget.hpp"
#include "parallel_map.hpp"
#include "settings.hpp"

namespace pixmorf {

// Below these sizes the shapes are traced on the calling thread alone:
// starting threads would cost more than they save.
inline constexpr std::uint64_t MIN_AREA_FOR_THREADS = 256 * 256;
inline constexpr std::size_t MIN_SHAPES_PER_THREAD = 16;

// Threads for tracing `shapes` shapes of a picture of `area` pixels.
inline unsigned tracing_threads(const ConversionParams& params, std::size_t shapes, std::uint64_t area) {
    if (params.worker_threads != 0) return params.worker_threads;
    if (area < MIN_AREA_FOR_THREADS) return 1;
    return static_cast<unsigned>(
        std::clamp<std::size_t>(shapes / MIN_SHAPES_PER_THREAD, 1, hardware_worker_threads()));
}

// The outlines trace_one(i, trace) for i in [0, count), traced on `threads`
// threads and returned in index order; or nothing when any of them failed.
// All outlines charge one smoothing budget, and on several threads they charge
// it in another order than one after the other, so after a failure only a run
// in order (with a budget of its own) tells which failure is the conversion's.
template <class TraceOne>
std::optional<std::vector<glyph::CompoundPath>> trace_in_parallel(std::size_t count, unsigned threads,
                                                                  const Settings& settings,
                                                                  const ConversionParams& params,
                                                                  const TraceOne& trace_one) {
    glyph::PointBudget budget;
    const glyph::TraceParams trace = trace_params(settings, params, budget);
    try {
        return map_indices_in_order(count, threads, [&](std::size_t i) { return trace_one(i, trace); });
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace pixmorf
