// Test tool: converts one picture in colour mode and reports the time of the
// conversion from pixels to SVG text (decoding excluded).
//   color_timing FILE|raw:FILE|white:WxH MODE HIERARCHY [SCALE]
// raw:FILE holds "width height\n" and then the RGBA bytes.
// MODE is none, polygon or spline; HIERARCHY stacked or cutout; SCALE (default
// 1) enlarges the picture by pixel repetition in both directions first.
// Prints "seconds cpu_seconds shapes width height first_fill text_bytes" on
// one line (first_fill is "-" without shapes).
#include <chrono>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <variant>

#include "converter/decode/image_input.hpp"
#include "converter/settings.hpp"
#include "converter/svg_document.hpp"

namespace {

std::optional<glyph::RgbaRaster> load(const std::string& source) {
    if (source.rfind("white:", 0) == 0) {
        std::size_t w = 0, h = 0;
        if (std::sscanf(source.c_str() + 6, "%zux%zu", &w, &h) != 2) return std::nullopt;
        glyph::RgbaRaster image = glyph::RgbaRaster::create(w, h);
        for (auto& byte : image.pixels) byte = 255;
        return image;
    }
    if (source.rfind("raw:", 0) == 0) {
        std::ifstream in(source.substr(4), std::ios::binary);
        std::size_t w = 0, h = 0;
        if (!(in >> w >> h) || in.get() != '\n') return std::nullopt;
        glyph::RgbaRaster image = glyph::RgbaRaster::create(w, h);
        if (!in.read(reinterpret_cast<char*>(image.pixels.data()), static_cast<std::streamsize>(image.pixels.size())))
            return std::nullopt;
        return image;
    }
    return pixmorf::decode_image_file(source);
}

glyph::RgbaRaster enlarge(const glyph::RgbaRaster& image, std::size_t scale) {
    glyph::RgbaRaster out = glyph::RgbaRaster::create(image.width * scale, image.height * scale);
    for (std::size_t y = 0; y < out.height; ++y)
        for (std::size_t x = 0; x < out.width; ++x) out.set_pixel(x, y, image.get_pixel(x / scale, y / scale));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: color_timing FILE|raw:FILE|white:WxH MODE HIERARCHY [SCALE]\n");
        return 2;
    }
    std::optional<glyph::RgbaRaster> image = load(argv[1]);
    if (!image) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const std::size_t scale = argc > 4 ? std::strtoul(argv[4], nullptr, 10) : 1;
    if (scale > 1) image = enlarge(*image, scale);

    pixmorf::Settings settings;
    const std::string mode = argv[2];
    settings.path_mode = mode == "none" ? glyph::PathMode::None
                         : mode == "polygon" ? glyph::PathMode::Polygon
                                             : glyph::PathMode::Spline;
    settings.hierarchy = std::string(argv[3]) == "cutout" ? pixmorf::Hierarchy::Cutout : pixmorf::Hierarchy::Stacked;
    const std::size_t width = image->width, height = image->height;

    const std::clock_t cpu_start = std::clock();
    const auto start = std::chrono::steady_clock::now();
    pixmorf::ConvertOutcome outcome = pixmorf::convert_image(std::move(*image), settings);
    std::size_t text_size = 0;
    if (const auto* converted = std::get_if<pixmorf::SvgDocument>(&outcome)) {
        text_size = pixmorf::render_svg_to_string(*converted).size();
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu_seconds = static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
    if (auto* error = std::get_if<pixmorf::ErrorText>(&outcome)) {
        std::fprintf(stderr, "%s\n", error->text.c_str());
        return 1;
    }
    const auto& document = std::get<pixmorf::SvgDocument>(outcome);
    const std::string fill = document.paths.empty() ? "-" : document.paths.front().color.to_hex();
    std::printf("%.4f %.4f %zu %zu %zu %s %zu\n", seconds, cpu_seconds, document.paths.size(), width, height, fill.c_str(),
                text_size);
    return 0;
}
