#include "color_driver.hpp"

#include <utility>
#include <vector>

#include "../../../glyphfoundry/src/color_clusters/runner.hpp"
#include "../../../glyphfoundry/src/path/point_budget.hpp"
#include "key_color.hpp"
#include "parallel_tracing.hpp"

namespace pixmorf {

namespace {

// Every fully transparent pixel takes the (opaque) key colour.
void apply_key(glyph::RgbaRaster& image, glyph::Color key) {
    std::uint8_t* p = image.pixels.data();
    const std::size_t count = image.pixel_count();
    for (std::size_t i = 0; i < count; ++i, p += 4) {
        if (p[3] != 0) continue;
        p[0] = key.r;
        p[1] = key.g;
        p[2] = key.b;
        p[3] = key.a;
    }
}

std::uint64_t area_of(const glyph::RgbaRaster& image) {
    return static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height);
}

}  // namespace

ConvertOutcome convert_color(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params) {
    const std::uint64_t width = image.width;
    const std::uint64_t height = image.height;

    glyph::Color key{0, 0, 0, 0};
    if (needs_keying(image)) {
        auto picked = pick_key_color(image);
        if (auto* error = std::get_if<ErrorText>(&picked)) return std::move(*error);
        key = std::get<glyph::Color>(picked);
        apply_key(image, key);
    }

    const bool cutout = settings.hierarchy == Hierarchy::Cutout;
    glyph::RunSettings first;
    first.max_layer_area = area_of(image);
    first.image = std::move(image);
    first.min_layer_area = params.speckle_area;
    first.max_hollow_neighbours = 1;
    first.merge_area_limit = glyph::NO_MERGE_AREA_LIMIT;
    first.pixels_per_step = 25600;
    first.is_same_color_a = params.color_tolerance;
    first.same_color_tolerance = 1;
    first.min_layer_difference = settings.layer_difference;
    first.transparent_key = key;
    first.diagonal_joining = settings.layer_difference == 0;
    first.discard_keyed = !cutout;
    glyph::ClusterSet view = glyph::ClusterRunner::run(std::move(first));

    if (cutout) {
        // Cluster the flattened first result again without layers, so that
        // the shapes own their pixels exclusively.
        glyph::RunSettings second;
        second.image = view.paint_image();
        second.max_layer_area = area_of(second.image);
        second.min_layer_area = 0;
        second.max_hollow_neighbours = 0;
        second.merge_area_limit = 64;
        second.pixels_per_step = 25600;
        second.is_same_color_a = 0;
        second.same_color_tolerance = 1;
        second.min_layer_difference = 0;
        second.transparent_key = key;
        second.diagonal_joining = false;
        second.discard_keyed = true;
        view = glyph::ClusterSet{};  // release the first result before the second run
        view = glyph::ClusterRunner::run(std::move(second));
    }

    std::vector<const glyph::ColorCluster*> emitted;
    view.visit_emitted([&](std::uint32_t, const glyph::ColorCluster& cluster) { emitted.push_back(&cluster); });

    SvgDocument document(width, height, settings.path_precision);
    const unsigned threads = tracing_threads(params, emitted.size(), width * height);
    if (threads > 1) {
        auto trace_one = [&](std::size_t i, const glyph::TraceParams& trace) {
            return emitted[i]->to_shape_path(view.width, false, trace);
        };
        if (auto paths = trace_in_parallel(emitted.size(), threads, settings, params, trace_one)) {
            for (std::size_t i = 0; i < emitted.size(); ++i) {
                document.add_path(std::move((*paths)[i]), emitted[i]->remainder_color());
            }
            return document;
        }
    }
    // One after the other, with a budget of its own: also the run that
    // reports a failure of the parallel one.
    glyph::PointBudget budget;
    const glyph::TraceParams trace = trace_params(settings, params, budget);
    for (const glyph::ColorCluster* cluster : emitted) {
        document.add_path(cluster->to_shape_path(view.width, false, trace), cluster->remainder_color());
    }
    return document;
}

}  // namespace pixmorf
