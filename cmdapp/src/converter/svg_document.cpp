#include "svg_document.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "parallel_map.hpp"

namespace pixmorf {

namespace {

// Shapes whose path data is formatted together, on several threads, before
// their lines go to the sink in order: bounds the text held at once.
constexpr std::size_t SHAPES_PER_BATCH = 512;
// Smaller documents are formatted on the calling thread alone.
constexpr std::size_t MIN_SHAPES_FOR_THREADS = 2 * SHAPES_PER_BATCH;

using PathData = std::pair<std::string, glyph::PointF>;

PathData path_data_of(const SvgDocument& document, const SvgShape& shape) {
    return shape.path.to_path_data(true, {0.0, 0.0}, document.path_precision);
}

void write_shape(const SvgShape& shape, const PathData& path_data, const TextSink& sink) {
    // The path data is the one large temporary per shape; it goes to the sink
    // as it is, without being copied into a line first.
    const auto& [data, translation] = path_data;
    sink("\t<path d=\"");
    sink(data);
    sink("\" fill=\"" + shape.color.to_hex() + "\" transform=\"translate(" +
         glyph::format_coordinate(translation.x, std::nullopt) + "," +
         glyph::format_coordinate(translation.y, std::nullopt) + ")\"/>\n");
}

unsigned formatting_threads(const SvgDocument& document, unsigned worker_threads) {
    if (worker_threads != 0) return worker_threads;
    return document.paths.size() < MIN_SHAPES_FOR_THREADS ? 1 : hardware_worker_threads();
}

}  // namespace

void render_svg(const SvgDocument& document, const TextSink& sink, unsigned worker_threads) {
    sink("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    sink("<!-- Generator: glyphfoundry Pixmorf 0.6.12 -->\n");
    sink("<svg version=\"1.1\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(document.width) +
         "\" height=\"" + std::to_string(document.height) + "\">\n");
    const std::vector<SvgShape>& shapes = document.paths;
    const unsigned threads = formatting_threads(document, worker_threads);
    if (threads <= 1) {
        for (const SvgShape& shape : shapes) write_shape(shape, path_data_of(document, shape), sink);
    } else {
        for (std::size_t first = 0; first < shapes.size(); first += SHAPES_PER_BATCH) {
            const std::size_t count = std::min(SHAPES_PER_BATCH, shapes.size() - first);
            std::vector<PathData> batch;
            try {
                batch = map_indices_in_order(count, threads,
                                             [&](std::size_t i) { return path_data_of(document, shapes[first + i]); });
            } catch (...) {
                // Formatting stops at a shape of this batch (or memory ran
                // short): format it again shape by shape, so that the shapes
                // before the stop reach the sink and the stop is the same as
                // without threads.
            }
            if (batch.size() != count) {
                for (std::size_t i = first; i < first + count; ++i) {
                    write_shape(shapes[i], path_data_of(document, shapes[i]), sink);
                }
                continue;
            }
            for (std::size_t i = 0; i < count; ++i) write_shape(shapes[first + i], batch[i], sink);
        }
    }
    sink("</svg>\n");
}

std::string render_svg_to_string(const SvgDocument& document, unsigned worker_threads) {
    std::string text;
    render_svg(document, [&text](std::string_view piece) { text.append(piece); }, worker_threads);
    return text;
}

}  // namespace pixmorf
