#include "binary_driver.hpp"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "../../../glyphfoundry/src/clusters/cluster.hpp"
#include "../../../glyphfoundry/src/path/point_budget.hpp"
#include "decode/image_input.hpp"
#include "parallel_tracing.hpp"

namespace pixmorf {

namespace {

constexpr glyph::Color SHAPE_COLOR{0, 0, 0, 255};

bool is_dark(glyph::Color c) { return c.r < DARK_BELOW; }

}  // namespace

SvgDocument convert_binary(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params) {
    glyph::BitRaster dark = image.make_binary(is_dark);
    image = {};  // the colour picture is not needed any more
    return convert_binary(std::move(dark), settings, params);
}

SvgDocument convert_binary(glyph::BitRaster dark, const Settings& settings, const ConversionParams& params) {
    SvgDocument document(dark.width, dark.height, settings.path_precision);
    const std::uint64_t area = static_cast<std::uint64_t>(dark.width) * static_cast<std::uint64_t>(dark.height);
    std::vector<glyph::Cluster> clusters = glyph::find_clusters(dark);
    dark = {};
    // Only clusters of speckle_area pixels or more become shapes.
    std::erase_if(clusters, [&](const glyph::Cluster& cluster) { return cluster.size() < params.speckle_area; });

    const unsigned threads = tracing_threads(params, clusters.size(), area);
    if (threads > 1) {
        auto trace_one = [&](std::size_t i, const glyph::TraceParams& trace) {
            return clusters[i].to_shape_path(trace);
        };
        if (auto paths = trace_in_parallel(clusters.size(), threads, settings, params, trace_one)) {
            clusters = {};
            for (glyph::CompoundPath& path : *paths) document.add_path(std::move(path), SHAPE_COLOR);
            return document;
        }
    }
    // One after the other, with a budget of its own: also the run that
    // reports a failure of the parallel one.
    glyph::PointBudget budget;
    const glyph::TraceParams trace = trace_params(settings, params, budget);
    for (glyph::Cluster& cluster : clusters) {
        document.add_path(cluster.to_shape_path(trace), SHAPE_COLOR);
        cluster = {};  // release its points as soon as it is traced
    }
    return document;
}

}  // namespace pixmorf
