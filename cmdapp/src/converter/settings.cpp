#include "settings.hpp"

#include "binary_driver.hpp"
#include "color_driver.hpp"

namespace pixmorf {

static double degrees_to_radians(std::int32_t degrees) {
    // Divide first: the result must be bit-identical to this order.
    return static_cast<double>(degrees) / 180.0 * 3.141592653589793;
}

ConversionParams conversion_params(const Settings& settings) {
    ConversionParams params;
    params.speckle_area = settings.filter_speckle * settings.filter_speckle;  // wraps
    params.corner_threshold_rad = degrees_to_radians(settings.corner_threshold);
    params.splice_threshold_rad = degrees_to_radians(settings.splice_threshold);
    params.color_tolerance = static_cast<std::int32_t>(8u - static_cast<std::uint32_t>(settings.color_precision));
    return params;
}

glyph::TraceParams trace_params(const Settings& settings, const ConversionParams& params,
                                glyph::PointBudget& budget) {
    glyph::TraceParams trace;
    trace.mode = settings.path_mode;
    trace.max_iterations = settings.max_iterations;
    trace.corner_threshold = params.corner_threshold_rad;
    trace.length_threshold = settings.length_threshold;
    trace.splice_threshold = params.splice_threshold_rad;
    trace.smoothing_budget = &budget;
    return trace;
}

ConvertOutcome convert_image(glyph::RgbaRaster image, const Settings& settings) {
    const ConversionParams params = conversion_params(settings);
    if (settings.color_mode == ColorMode::Binary) {
        return convert_binary(std::move(image), settings, params);
    }
    return convert_color(std::move(image), settings, params);
}

}  // namespace pixmorf
