#include "svg_document.hpp"

#include <string>

namespace pixmorf {

void render_svg(const SvgDocument& document, const TextSink& sink) {
    sink("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    sink("<!-- Generator: glyphfoundry Pixmorf 0.6.12 -->\n");
    sink("<svg version=\"1.1\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(document.width) +
         "\" height=\"" + std::to_string(document.height) + "\">\n");
    sink("</svg>\n");
}

std::string render_svg_to_string(const SvgDocument& document) {
    std::string text;
    render_svg(document, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

}  // namespace pixmorf
