#pragma once
// The settings of one conversion, the parameters derived from them, and the
// single entry of the conversion pipeline.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "../../../glyphfoundry/src/clusters/trace.hpp"
#include "../../../glyphfoundry/src/image/format/rgba_raster.hpp"
#include "../../../glyphfoundry/src/path/paths.hpp"
#include "svg_document.hpp"

namespace pixmorf {

using glyph::PathMode;

enum class ColorMode : std::uint8_t { Color, Binary };
enum class Hierarchy : std::uint8_t { Stacked, Cutout };

struct Settings {
    ColorMode color_mode = ColorMode::Color;
    Hierarchy hierarchy = Hierarchy::Stacked;
    PathMode path_mode = PathMode::Spline;
    std::uint64_t filter_speckle = 4;
    std::int32_t color_precision = 6;
    std::int32_t layer_difference = 16;
    std::int32_t corner_threshold = 60;  // degrees
    double length_threshold = 4.0;
    std::uint64_t max_iterations = 10;
    std::int32_t splice_threshold = 45;  // degrees
    std::optional<std::uint32_t> path_precision;
};

struct ConversionParams {
    std::uint64_t speckle_area = 0;
    double corner_threshold_rad = 0.0;
    double splice_threshold_rad = 0.0;
    std::int32_t color_tolerance = 0;
    // Threads for the parallel phases; 0 lets the size of the work decide.
    unsigned worker_threads = 0;
};

// An expected failure of the pipeline: a plain text for the caller.
struct ErrorText {
    std::string text;
};

using ConvertOutcome = std::variant<SvgDocument, ErrorText>;

ConversionParams conversion_params(const Settings& settings);

// What tracing needs of the settings; every outline of the conversion charges
// its smoothed points to `budget`.
glyph::TraceParams trace_params(const Settings& settings, const ConversionParams& params,
                                glyph::PointBudget& budget);

ConvertOutcome convert_image(glyph::RgbaRaster image, const Settings& settings);

}  // namespace pixmorf
