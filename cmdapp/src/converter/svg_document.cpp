#include "svg_document.hpp"

#include <string>

namespace pixmorf {

void render_svg(const SvgDocument& document, const TextSink& sink) {
    sink("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    sink("<!-- Generator: glyphfoundry Pixmorf 0.6.12 -->\n");
    sink("<svg version=\"1.1\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(document.width) +
         "\" height=\"" + std::to_string(document.height) + "\">\n");
    for (const SvgShape& shape : document.paths) {
        // The path data is the one large temporary per shape; it goes to the
        // sink as it is, without being copied into a line first.
        const auto [data, translation] = shape.path.to_path_data(true, {0.0, 0.0}, document.path_precision);
        sink("\t<path d=\"");
        sink(data);
        sink("\" fill=\"" + shape.color.to_hex() + "\" transform=\"translate(" +
             glyph::format_coordinate(translation.x, std::nullopt) + "," +
             glyph::format_coordinate(translation.y, std::nullopt) + ")\"/>\n");
    }
    sink("</svg>\n");
}

std::string render_svg_to_string(const SvgDocument& document) {
    std::string text;
    render_svg(document, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

}  // namespace pixmorf
