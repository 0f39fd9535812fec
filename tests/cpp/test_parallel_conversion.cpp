// Conversions on several threads give the text, or the failure, of the same
// conversion on one thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "converter/binary_driver.hpp"
#include "converter/color_driver.hpp"
#include "converter/settings.hpp"
#include "failure.hpp"

using namespace pixmorf;
using glyph::Color;
using glyph::RgbaRaster;

namespace {

constexpr Color BLACK{0, 0, 0, 255};
constexpr Color WHITE{255, 255, 255, 255};

RgbaRaster picture(std::size_t width, std::size_t height, const std::function<Color(std::size_t, std::size_t)>& colour) {
    RgbaRaster image = RgbaRaster::create(width, height);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x) image.set_pixel(x, y, colour(x, y));
    return image;
}

// Blocks of six far-apart colours, shuffled, with a transparent stripe: over
// five hundred shapes of every size in every mode, and keying.
RgbaRaster patchwork() {
    static constexpr Color PALETTE[] = {{230, 30, 30, 255}, {30, 200, 40, 255}, {20, 40, 220, 255},
                                        {240, 220, 30, 255}, {10, 10, 10, 255}, {250, 250, 250, 255}};
    return picture(500, 400, [](std::size_t x, std::size_t y) {
        if (y >= 140 && y < 146) return Color{0, 0, 0, 0};
        const std::uint64_t block = ((x / 4) * 1000 + y / 4) * 0x9E3779B97F4A7C15u;
        return PALETTE[(block >> 32) % 6];
    });
}

// Discs without corners, which smoothing refines without end at
// length_threshold 0.
RgbaRaster discs(std::size_t side) {
    return picture(side, side, [](std::size_t x, std::size_t y) {
        const auto dx = static_cast<int>(x % 16) - 7, dy = static_cast<int>(y % 16) - 7;
        return dx * dx + dy * dy < 30 ? BLACK : WHITE;
    });
}

// Dots on the first row, then a line of 500,000 pixels, whose outline of a
// million edges stops tracing with "STUCK".
RgbaRaster dots_then_long_line() {
    return picture(500000, 3, [](std::size_t x, std::size_t y) {
        if (y == 0) return x % 3 == 0 && x < 30000 ? BLACK : WHITE;
        return y == 2 ? BLACK : WHITE;
    });
}

// The document text, or the failure, of one conversion and its rendering on
// `threads` threads.
std::string outcome_of(RgbaRaster image, const Settings& settings, unsigned threads) {
    ConversionParams params = conversion_params(settings);
    params.worker_threads = threads;
    try {
        if (settings.color_mode == ColorMode::Binary) {
            return render_svg_to_string(convert_binary(std::move(image), settings, params), threads);
        }
        ConvertOutcome outcome = convert_color(std::move(image), settings, params);
        if (const auto* error = std::get_if<ErrorText>(&outcome)) return "error text: " + error->text;
        return render_svg_to_string(std::get<SvgDocument>(outcome), threads);
    } catch (const glyph::InternalFailure& failure) {
        return "internal failure: " + failure.message;
    } catch (const glyph::MemoryLimitExceeded& failure) {
        return "memory limit: " + failure.message;
    }
}

Settings with(ColorMode colour, Hierarchy hierarchy, glyph::PathMode mode) {
    Settings settings;
    settings.color_mode = colour;
    settings.hierarchy = hierarchy;
    settings.path_mode = mode;
    return settings;
}

}  // namespace

TEST(ParallelConversion, GivesTheTextOfOneThread) {
    using glyph::PathMode;
    const Settings cases[] = {
        with(ColorMode::Color, Hierarchy::Stacked, PathMode::Spline),
        with(ColorMode::Color, Hierarchy::Stacked, PathMode::Polygon),
        with(ColorMode::Color, Hierarchy::Cutout, PathMode::Spline),
        with(ColorMode::Color, Hierarchy::Cutout, PathMode::None),
        with(ColorMode::Binary, Hierarchy::Stacked, PathMode::Spline),
        with(ColorMode::Binary, Hierarchy::Stacked, PathMode::Polygon),
    };
    for (const Settings& settings : cases) {
        Settings precise = settings;
        precise.path_precision = 3;
        for (const Settings& variant : {settings, precise}) {
            const std::string one = outcome_of(patchwork(), variant, 1);
            // Shapes enough for several batches of formatting.
            ASSERT_GT(std::count(one.begin(), one.end(), '\n'), 520) << one.substr(0, 200);
            for (const unsigned threads : {2u, 3u, 8u}) {
                EXPECT_TRUE(outcome_of(patchwork(), variant, threads) == one)
                    << threads << " threads, mode " << static_cast<int>(variant.path_mode) << ", colour mode "
                    << static_cast<int>(variant.color_mode);
            }
        }
    }
}

TEST(ParallelConversion, FailsAsOneThreadDoes) {
    Settings endless;  // every disc alone exceeds the smoothing budget
    endless.length_threshold = 0.0;
    endless.max_iterations = 1000000;
    Settings binary_outlines;
    binary_outlines.color_mode = ColorMode::Binary;
    binary_outlines.path_mode = glyph::PathMode::None;
    binary_outlines.filter_speckle = 1;

    struct Case {
        const char* name;
        std::function<RgbaRaster()> image;
        Settings settings;
        const char* failure;
    };
    const Case cases[] = {
        {"smoothing budget", [] { return discs(64); }, endless, "memory limit: "},
        {"stuck outline", dots_then_long_line, binary_outlines, "internal failure: STUCK"},
    };
    for (const Case& c : cases) {
        const std::string one = outcome_of(c.image(), c.settings, 1);
        EXPECT_EQ(one.rfind(c.failure, 0), 0u) << c.name << ": " << one.substr(0, 200);
        EXPECT_EQ(outcome_of(c.image(), c.settings, 3), one) << c.name;
    }
}

// The shapes before a shape that cannot be written reach the sink, then
// rendering stops, exactly as on one thread.
TEST(ParallelConversion, RenderingStopsAtTheSameShape) {
    SvgDocument document(100, 100, 65536u);  // a precision no float coordinate can be written with
    for (std::int32_t i = 0; i < 1500; ++i) {
        glyph::CompoundPath shape;
        if (i == 1234) {
            shape.append(glyph::Spline{{{0, 0}, {1, 0}, {2, 1}, {2, 2}}});
        } else {
            shape.append(glyph::PixelPath{{{i, 0}, {i + 1, 0}, {i + 1, 1}, {i, 1}, {i, 0}}});
        }
        document.add_path(std::move(shape), Color{1, 2, 3, 255});
    }
    const auto rendered = [&document](unsigned threads) {
        std::string text;
        try {
            render_svg(document, [&text](std::string_view piece) { text.append(piece); }, threads);
        } catch (const glyph::InternalFailure& failure) {
            text += "|stopped: " + failure.message;
        }
        return text;
    };
    const std::string one = rendered(1);
    ASSERT_NE(one.find("translate(1233,0)\"/>\n|stopped: Formatting argument out of range"), std::string::npos);
    for (const unsigned threads : {2u, 3u}) EXPECT_TRUE(rendered(threads) == one) << threads << " threads";
}
