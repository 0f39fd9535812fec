#include "binary_driver.hpp"

#include <utility>
#include <vector>

#include "../../../glyphfoundry/src/clusters/cluster.hpp"
#include "../../../glyphfoundry/src/path/point_budget.hpp"

namespace pixmorf {

namespace {

constexpr glyph::Color SHAPE_COLOR{0, 0, 0, 255};

bool is_dark(glyph::Color c) { return c.r < 128; }

}  // namespace

SvgDocument convert_binary(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params) {
    SvgDocument document(image.width, image.height, settings.path_precision);
    std::vector<glyph::Cluster> clusters;
    {
        const glyph::BitRaster bits = image.make_binary(is_dark);
        image = {};  // the colour picture is not needed any more
        clusters = glyph::find_clusters(bits);
    }
    glyph::PointBudget budget;
    const glyph::TraceParams trace = trace_params(settings, params, budget);
    for (glyph::Cluster& cluster : clusters) {
        if (cluster.size() >= params.speckle_area) document.add_path(cluster.to_shape_path(trace), SHAPE_COLOR);
        cluster = {};  // release its points as soon as it is traced
    }
    return document;
}

}  // namespace pixmorf
