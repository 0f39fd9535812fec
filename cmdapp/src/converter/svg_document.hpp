#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "../../../glyphfoundry/src/color/color.hpp"
#include "../../../glyphfoundry/src/path/compound.hpp"

namespace pixmorf {

struct SvgShape {
    glyph::CompoundPath path;
    glyph::Color color;
};

struct SvgDocument {
    std::vector<SvgShape> paths;
    std::optional<std::uint32_t> path_precision;
    std::uint64_t width = 0;
    std::uint64_t height = 0;

    SvgDocument(std::uint64_t width_, std::uint64_t height_, std::optional<std::uint32_t> precision)
        : path_precision(precision), width(width_), height(height_) {}

    void add_path(glyph::CompoundPath path, glyph::Color color) {
        paths.push_back({std::move(path), color});
    }
};

// Receives the document text piece by piece; a file sink stops with
// "failed to write file.: ..." when a write fails.
using TextSink = std::function<void(std::string_view)>;

// Writes the document to the sink, in order, on the calling thread. The path
// data of large documents is formatted on `worker_threads` threads (0: as many
// as the hardware runs, for documents large enough to gain), a batch of shapes
// at a time; the text and any stop are those of formatting one shape after
// the other.
void render_svg(const SvgDocument& document, const TextSink& sink, unsigned worker_threads = 0);
std::string render_svg_to_string(const SvgDocument& document, unsigned worker_threads = 0);

}  // namespace pixmorf
