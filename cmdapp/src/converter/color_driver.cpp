#include "color_driver.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>
#include <vector>

#include "../../../glyphfoundry/src/color_clusters/runner.hpp"
#include "../../../glyphfoundry/src/path/point_budget.hpp"
#include "key_color.hpp"
#include "layer_tracer.hpp"
#include "parallel_tracing.hpp"
#include "record_prefaulter.hpp"

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

// Whether the layers of a stacked conversion are traced while clustering goes
// on: on pictures large enough to pay for a thread, when one may be used.
bool overlap_tracing(const ConversionParams& params, std::uint64_t area) {
    if (params.worker_threads != 0) return params.worker_threads > 1;
    return area >= MIN_AREA_FOR_THREADS && hardware_worker_threads() > 1;
}

// Clusters a picture; with `prefault`, the pages of the cluster records are
// faulted in on a thread of their own ahead of the pixel pass.
glyph::ClusterSet run_clusters(glyph::RunSettings run, bool prefault) {
    if (!prefault) return glyph::ClusterRunner::run(std::move(run));
    glyph::ClusterBuilder builder = glyph::ClusterRunner::prepare(std::move(run));
    {
        const RecordPrefaulter prefaulter(builder);
        while (!builder.step()) {
        }
    }
    return std::move(builder).finish();
}

// Clusters and traces a stacked conversion with the layers traced as they are
// emitted. When a shape fails to trace, hands the picture back instead.
// With `arriving`, the picture's pixels (whose bytes are `raster_bytes`) are
// put in place step by step ahead of the pixel pass.
std::variant<SvgDocument, glyph::RgbaRaster> convert_stacked_overlapped(glyph::RunSettings run, std::uint64_t width,
                                                                        std::uint64_t height, const Settings& settings,
                                                                        const ConversionParams& params,
                                                                        const ArrivingPixels* arriving,
                                                                        std::span<std::uint8_t> raster_bytes) {
    glyph::PointBudget budget;
    const glyph::TraceParams trace = trace_params(settings, params, budget);
    LayerTracer tracer(trace, static_cast<std::uint32_t>(std::min<std::uint64_t>(width, UINT32_MAX)));
    run.on_layer = tracer.sink();
    glyph::ClusterBuilder builder = glyph::ClusterRunner::prepare(std::move(run));
    {
        const RecordPrefaulter prefaulter(builder);
        for (;;) {
            if (arriving != nullptr && builder.stage() == glyph::BuildStage::PixelPass &&
                !arriving->fill(raster_bytes, builder.pixels_read_by_next_step())) {
                throw PixelsUnavailable();
            }
            if (builder.step()) break;
        }
    }
    // The tracing thread never reads the builder: the result can be taken
    // while it still works through the last layers.
    glyph::ClusterSet rest = std::move(builder).finish();

    // The emitted clusters that never became layers are few (the last
    // background, clusters without neighbours) and are traced here meanwhile;
    // the result holds them, and not the layers handed over.
    std::vector<std::uint32_t> order(rest.output_order.rbegin(), rest.output_order.rend());
    std::vector<glyph::CompoundPath> others;
    try {
        for (std::uint32_t index : order) {
            if (const glyph::ColorCluster* cluster = rest.find(index)) {
                others.push_back(cluster->to_shape_path(rest.width, false, trace));
            }
        }
    } catch (...) {
        tracer.stop();
        return std::move(rest.image);
    }
    std::optional<std::vector<TracedShape>> layers = tracer.drain();
    if (!layers) return std::move(rest.image);

    // Every layer is emitted once, so its path can be moved.
    SvgDocument document(width, height, settings.path_precision);
    std::size_t next_other = 0;
    for (std::uint32_t index : order) {
        if (const glyph::ColorCluster* cluster = rest.find(index)) {
            document.add_path(std::move(others[next_other++]), cluster->remainder_color());
            continue;
        }
        const auto layer = std::lower_bound(layers->begin(), layers->end(), index,
                                            [](const TracedShape& shape, std::uint32_t k) { return shape.index < k; });
        // Not a layer and no pixels: left to the conversion in order.
        if (layer == layers->end() || layer->index != index) return std::move(rest.image);
        document.add_path(std::move(layer->path), layer->color);
    }
    return document;
}

}  // namespace

bool converts_while_arriving(const Settings& settings, const ConversionParams& params, std::uint64_t width,
                             std::uint64_t height) {
    // Only the stacked conversion that traces while it clusters goes through
    // the picture in one pass from the top; keying looks at rows all over it.
    return settings.hierarchy != Hierarchy::Cutout && overlap_tracing(params, width * height) &&
           !opaque_picture_needs_keying(width, height);
}

namespace {

ConvertOutcome convert_color_from(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params,
                                  const ArrivingPixels* arriving) {
    const std::uint64_t width = image.width;
    const std::uint64_t height = image.height;
    if (arriving != nullptr && !converts_while_arriving(settings, params, width, height)) {
        if (!arriving->fill(image.pixels, image.pixel_count())) throw PixelsUnavailable();
        arriving = nullptr;
    }

    glyph::Color key{0, 0, 0, 0};
    // Arriving pixels are opaque, on a picture wide enough to need no key.
    if (arriving == nullptr && needs_keying(image)) {
        auto picked = pick_key_color(image);
        if (auto* error = std::get_if<ErrorText>(&picked)) return std::move(*error);
        key = std::get<glyph::Color>(picked);
        apply_key(image, key);
    }

    const bool cutout = settings.hierarchy == Hierarchy::Cutout;
    auto first_run = [&](glyph::RgbaRaster picture) {
        glyph::RunSettings first;
        first.max_layer_area = area_of(picture);
        first.image = std::move(picture);
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
        return first;
    };
    if (!cutout && overlap_tracing(params, width * height)) {
        const std::span<std::uint8_t> raster_bytes(image.pixels);
        auto outcome = convert_stacked_overlapped(first_run(std::move(image)), width, height, settings, params,
                                                  arriving, raster_bytes);
        if (auto* document = std::get_if<SvgDocument>(&outcome)) return std::move(*document);
        // A shape failed to trace: start again in order, so that the failure
        // reported is the one tracing in order meets.
        image = std::get<glyph::RgbaRaster>(std::move(outcome));
    }
    // Threads that may trace in parallel may as well take page faults.
    const bool prefault = overlap_tracing(params, width * height);
    glyph::ClusterSet view = run_clusters(first_run(std::move(image)), prefault);

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
        view = run_clusters(std::move(second), prefault);
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

}  // namespace

ConvertOutcome convert_color(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params) {
    return convert_color_from(std::move(image), settings, params, nullptr);
}

ConvertOutcome convert_color(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params,
                             const ArrivingPixels& arriving) {
    return convert_color_from(std::move(image), settings, params, &arriving);
}

}  // namespace pixmorf
