#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "converter/svg_document.hpp"
#include "failure.hpp"

using namespace pixmorf;
using glyph::Color;
using glyph::CompoundPath;
using glyph::PixelPath;
using glyph::Spline;

namespace {

const std::string HEADER =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- Generator: glyphfoundry Pixmorf 0.6.12 -->\n";
const std::string FOOTER = "</svg>\n";

std::string root(const char* width, const char* height) {
    return std::string("<svg version=\"1.1\" xmlns=\"http://www.w3.org/2000/svg\" width=\"") + width +
           "\" height=\"" + height + "\">\n";
}

CompoundPath compound(glyph::SubPath path) {
    CompoundPath shape;
    shape.append(std::move(path));
    return shape;
}

const PixelPath RECTANGLE{{{10, 20}, {13, 20}, {13, 22}, {10, 22}, {10, 20}}};

}  // namespace

TEST(RenderSvg, EmptyDocument) {
    EXPECT_EQ(render_svg_to_string(SvgDocument(0, 0, std::nullopt)), HEADER + root("0", "0") + FOOTER);
    EXPECT_EQ(render_svg_to_string(SvgDocument(3, 2, 5u)), HEADER + root("3", "2") + FOOTER);
    EXPECT_EQ(render_svg_to_string(SvgDocument(UINT64_MAX, 1, {})),
              HEADER + root("18446744073709551615", "1") + FOOTER);
}

TEST(RenderSvg, ShapeLines) {
    SvgDocument document(40, 30, 0u);
    document.add_path(compound(RECTANGLE), Color{255, 0, 128, 7});
    document.add_path(compound(Spline{{{2.5, 0.1}, {3.5, 0.1}, {4.5, 1.1}, {2.5, 0.1}}}), Color{0, 0, 0, 255});
    document.add_path(CompoundPath{}, Color{10, 11, 12, 0});
    EXPECT_EQ(render_svg_to_string(document),
              HEADER + root("40", "30") +
                  "\t<path d=\"M0,0 L3,0 L3,2 L0,2 Z \" fill=\"#FF0080\" transform=\"translate(10,20)\"/>\n"
                  "\t<path d=\"M0 0 C1 0 2 1 0 0 Z \" fill=\"#000000\" transform=\"translate(2.5,0.1)\"/>\n"
                  "\t<path d=\"\" fill=\"#0A0B0C\" transform=\"translate(0,0)\"/>\n" +
                  FOOTER);
}

TEST(RenderSvg, StreamsPiecesAndStopsOnBadPrecision) {
    // Pixel outlines ignore the precision, so an out-of-range one is harmless.
    SvgDocument pixels(20, 30, 65536u);
    pixels.add_path(compound(RECTANGLE), Color{});
    std::vector<std::string> pieces;
    render_svg(pixels, [&pieces](std::string_view piece) { pieces.emplace_back(piece); });
    std::string joined;
    for (const auto& piece : pieces) joined += piece;
    EXPECT_GT(pieces.size(), 4u);
    EXPECT_EQ(joined, render_svg_to_string(pixels));
    EXPECT_EQ(pieces.back(), FOOTER);

    SvgDocument splines(20, 30, 65536u);
    splines.add_path(compound(Spline{{{0, 0}, {1, 0}, {2, 1}, {2, 2}}}), Color{});
    try {
        render_svg_to_string(splines);
        ADD_FAILURE() << "no stop";
    } catch (const glyph::InternalFailure& failure) {
        EXPECT_EQ(failure.message, "Formatting argument out of range");
    }
}
