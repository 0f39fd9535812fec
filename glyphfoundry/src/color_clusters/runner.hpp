#pragma once
// The entry to colour clustering: tuning values in, finished clusters out.
#include <cstdint>

#include "../image/format/rgba_raster.hpp"
#include "builder.hpp"
#include "container.hpp"

namespace glyph {

struct RunSettings {
    RgbaRaster image;
    std::uint64_t min_layer_area = 0;          // a layer needs more pixels than this
    std::uint64_t max_layer_area = 0;          // and fewer than this
    std::uint64_t max_hollow_neighbours = 0;   // layers with at most this many candidates are holes
    std::uint32_t merge_area_limit = NO_MERGE_AREA_LIMIT;
    std::uint32_t pixels_per_step = 25600;
    std::int32_t is_same_color_a = 0;          // channel shift before comparing; below 8
    std::int32_t same_color_tolerance = 1;     // largest shifted difference per channel
    std::int32_t min_layer_difference = 0;     // a layer must differ by more than this
    Color transparent_key;                     // (0, 0, 0, 0): nothing keyed
    bool diagonal_joining = false;
    bool discard_keyed = false;
    LayerSink on_layer;                        // optional; see BuilderSettings
};

// The decision callables, built from the tuning values they capture.
SameColor make_same_color(std::int32_t is_same_color_a, std::int32_t tolerance);
ColorDifference make_color_difference();
MergeDecision make_emit_as_layer(std::uint64_t min_layer_area, std::uint64_t max_layer_area,
                                 std::int32_t min_layer_difference);
MergeDecision make_treat_as_hole(std::uint64_t max_hollow_neighbours);

class ClusterRunner {
public:
    // Stops with "assertion failed: is_same_color_a < 8" before any work when
    // the shift is 8 or more; negative shifts act through their low three bits.
    static ClusterSet run(RunSettings settings);
    // The same builder, not yet stepped, for a caller that steps it itself.
    static ClusterBuilder prepare(RunSettings settings);
};

}  // namespace glyph
