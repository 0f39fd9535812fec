#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "converter/color_driver.hpp"
#include "converter/key_color.hpp"
#include "converter/settings.hpp"
#include "failure.hpp"

using namespace pixmorf;
using glyph::Color;
using glyph::RgbaRaster;

namespace {

constexpr Color OPAQUE_GREY{90, 90, 90, 255};
constexpr Color CLEAR{0, 0, 0, 0};

RgbaRaster filled(std::size_t width, std::size_t height, Color color) {
    RgbaRaster image = RgbaRaster::create(width, height);
    for (std::size_t y = 0; y < height; ++y)
        for (std::size_t x = 0; x < width; ++x) image.set_pixel(x, y, color);
    return image;
}

SvgDocument convert(RgbaRaster image, const Settings& settings) {
    ConvertOutcome outcome = convert_image(std::move(image), settings);
    if (auto* error = std::get_if<ErrorText>(&outcome)) {
        ADD_FAILURE() << error->text;
        return SvgDocument(0, 0, std::nullopt);
    }
    return std::move(std::get<SvgDocument>(outcome));
}

// The reference wyrand step, with the compiler's 128-bit product.
std::uint64_t wyrand_reference(std::uint64_t& state) {
    state += 0x2d358dccaa6c78a5u;
    __extension__ using u128 = unsigned __int128;
    const u128 product = static_cast<u128>(state) * static_cast<u128>(state ^ 0x8bb84b93962eacc9u);
    return static_cast<std::uint64_t>(product >> 64) ^ static_cast<std::uint64_t>(product);
}

}  // namespace

TEST(KeyColor, NeedsKeying) {
    struct Case {
        const char* name;
        RgbaRaster image;
        bool expected;
    };
    std::vector<Case> cases;
    cases.push_back({"opaque, 3 wide", filled(3, 3, OPAQUE_GREY), false});
    cases.push_back({"no pixels", RgbaRaster::create(0, 9), false});
    cases.push_back({"fully transparent", filled(10, 10, CLEAR), true});
    // 10 x 10 with a transparent left column: T = 4, rows 0, 2, 5, 7, 9.
    RgbaRaster left_column = filled(10, 10, OPAQUE_GREY);
    for (std::size_t y = 0; y < 10; ++y) left_column.set_pixel(0, y, CLEAR);
    cases.push_back({"left column", std::move(left_column), true});
    // Only unsampled rows transparent: never counted.
    RgbaRaster unsampled = filled(10, 10, OPAQUE_GREY);
    for (std::size_t x = 0; x < 10; ++x) {
        unsampled.set_pixel(x, 1, CLEAR);
        unsampled.set_pixel(x, 8, CLEAR);
    }
    cases.push_back({"unsampled rows", std::move(unsampled), false});
    // Widths 1 and 2 give T = 0: keyed after the first pixel, even opaque.
    cases.push_back({"width 1", filled(1, 5, OPAQUE_GREY), true});
    cases.push_back({"width 2", filled(2, 1, OPAQUE_GREY), true});
    // Height 1: row 0 is scanned five times. Width 10 (T = 4) reaches it with
    // one transparent pixel, width 15 (T = 6) does not.
    RgbaRaster row10 = filled(10, 1, OPAQUE_GREY);
    row10.set_pixel(9, 0, CLEAR);
    cases.push_back({"row of 10", std::move(row10), true});
    RgbaRaster row15 = filled(15, 1, OPAQUE_GREY);
    row15.set_pixel(9, 0, CLEAR);
    cases.push_back({"row of 15", std::move(row15), false});
    // Alpha 1 is not transparent.
    cases.push_back({"alpha 1", filled(10, 10, Color{0, 0, 0, 1}), false});
    for (const Case& c : cases) EXPECT_EQ(needs_keying(c.image), c.expected) << c.name;
}

TEST(KeyColor, WyrandOutputs) {
    std::uint64_t reference_state = 12345;
    Wyrand generator{12345};
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(generator.next(), wyrand_reference(reference_state));
    // Each thread has a generator of its own, seeded differently.
    const std::uint64_t here = next_thread_seed();
    EXPECT_NE(next_thread_seed(), here);
    std::uint64_t there = here;
    std::thread([&] { there = next_thread_seed(); }).join();
    EXPECT_NE(there, here);
}

TEST(KeyColor, PicksFirstUnusedCandidate) {
    Wyrand unused{1};
    RgbaRaster image = filled(3, 2, OPAQUE_GREY);
    EXPECT_EQ(std::get<Color>(pick_key_color(image, unused)), (Color{255, 0, 0, 255}));
    image.set_pixel(2, 1, Color{255, 0, 0, 17});  // alpha does not matter
    EXPECT_EQ(std::get<Color>(pick_key_color(image, unused)), (Color{0, 255, 0, 255}));

    // All six fixed candidates present: the first random candidate is taken,
    // made of the low bytes of three generator outputs.
    RgbaRaster all_fixed = RgbaRaster::create(7, 1);
    for (std::size_t i = 0; i < 6; ++i) all_fixed.set_pixel(i, 0, KEY_CANDIDATE_COLORS[i]);
    std::uint64_t state = 77;
    const Color drawn{static_cast<std::uint8_t>(wyrand_reference(state)), static_cast<std::uint8_t>(wyrand_reference(state)),
                      static_cast<std::uint8_t>(wyrand_reference(state)), 255};
    Wyrand seeded{77};
    EXPECT_EQ(std::get<Color>(pick_key_color(all_fixed, seeded)), drawn);

    // All twelve present: the error text.
    RgbaRaster all_twelve = RgbaRaster::create(12, 1);
    for (std::size_t i = 0; i < 6; ++i) all_twelve.set_pixel(i, 0, KEY_CANDIDATE_COLORS[i]);
    state = 5;
    for (std::size_t i = 6; i < 12; ++i) {
        const auto r = static_cast<std::uint8_t>(wyrand_reference(state));
        const auto g = static_cast<std::uint8_t>(wyrand_reference(state));
        const auto b = static_cast<std::uint8_t>(wyrand_reference(state));
        all_twelve.set_pixel(i, 0, Color{r, g, b, 0});
    }
    Wyrand five{5};
    const auto result = pick_key_color(all_twelve, five);
    ASSERT_TRUE(std::holds_alternative<ErrorText>(result));
    EXPECT_EQ(std::get<ErrorText>(result).text, "unable to find unused color in image to use as key");
}

TEST(ColorDriver, StackedDrawsBackgroundFirstAndLayersOnTop) {
    // 20 x 20 white with a 10 x 10 black square: the background is emitted
    // last and so comes first in the document.
    RgbaRaster image = filled(20, 20, Color{255, 255, 255, 255});
    for (std::size_t y = 5; y < 15; ++y)
        for (std::size_t x = 5; x < 15; ++x) image.set_pixel(x, y, Color{0, 0, 0, 255});
    Settings settings;
    settings.path_mode = PathMode::None;
    const SvgDocument stacked = convert(image, settings);
    EXPECT_EQ(stacked.width, 20u);
    EXPECT_EQ(stacked.height, 20u);
    ASSERT_EQ(stacked.paths.size(), 2u);
    EXPECT_EQ(stacked.paths[0].color, (Color{255, 255, 255, 255}));
    EXPECT_EQ(stacked.paths[1].color, (Color{0, 0, 0, 255}));

    settings.hierarchy = Hierarchy::Cutout;
    // Cutout: both regions exceed 64 pixels and are emitted at their own
    // level, the square (100) before the frame (300).
    const SvgDocument cutout = convert(image, settings);
    ASSERT_EQ(cutout.paths.size(), 2u);
    EXPECT_EQ(cutout.paths[0].color, (Color{255, 255, 255, 255}));
    EXPECT_EQ(cutout.paths[1].color, (Color{0, 0, 0, 255}));
}

TEST(ColorDriver, CutoutKeepsTransparentPixelsTransparent) {
    // 10 x 10, left column transparent, the rest one colour: one shape of
    // that colour, over columns 1 to 9 only.
    RgbaRaster image = filled(10, 10, Color{30, 120, 200, 255});
    for (std::size_t y = 0; y < 10; ++y) image.set_pixel(0, y, CLEAR);
    for (Hierarchy hierarchy : {Hierarchy::Stacked, Hierarchy::Cutout}) {
        Settings settings;
        settings.hierarchy = hierarchy;
        settings.path_mode = PathMode::None;
        const SvgDocument document = convert(image, settings);
        ASSERT_EQ(document.paths.size(), 1u);
        EXPECT_EQ(document.paths[0].color, (Color{30, 120, 200, 255}));
        if (!document.paths[0].path.paths.empty()) {
            EXPECT_EQ(std::get<glyph::PixelPath>(document.paths[0].path.paths[0]).points,
                      (std::vector<glyph::PointI>{{1, 0}, {10, 0}, {10, 10}, {1, 10}, {1, 0}}));
        }
    }
}

TEST(ColorDriver, CutoutKeepsRegionsCloseToTheKeyColour) {
    // The right half is close enough to the key colour (red) to join the
    // keyed pixels' cluster in the first run; it must still come out opaque
    // in its own colour, and the left half transparent.
    RgbaRaster image = filled(10, 10, Color{250, 3, 2, 255});
    for (std::size_t y = 0; y < 10; ++y)
        for (std::size_t x = 0; x < 5; ++x) image.set_pixel(x, y, CLEAR);
    Settings settings;
    settings.hierarchy = Hierarchy::Cutout;
    settings.path_mode = PathMode::None;
    const SvgDocument document = convert(std::move(image), settings);
    ASSERT_EQ(document.paths.size(), 1u);
    EXPECT_EQ(document.paths[0].color, (Color{250, 3, 2, 255}));
    if (!document.paths[0].path.paths.empty()) {
        EXPECT_EQ(std::get<glyph::PixelPath>(document.paths[0].path.paths[0]).points,
                  (std::vector<glyph::PointI>{{5, 0}, {10, 0}, {10, 10}, {5, 10}, {5, 0}}));
    }
}

TEST(ColorDriver, Failures) {
    // Every colour occurs, and row 0 is transparent: no key colour can be found.
    RgbaRaster every_colour = RgbaRaster::create(4096, 4096);
    for (std::uint32_t i = 0; i < 4096u * 4096u; ++i) {
        std::uint8_t* p = &every_colour.pixels[4 * std::size_t{i}];
        p[0] = static_cast<std::uint8_t>(i);
        p[1] = static_cast<std::uint8_t>(i >> 8);
        p[2] = static_cast<std::uint8_t>(i >> 16);
        p[3] = i < 4096 ? 0 : 255;
    }
    ConvertOutcome outcome = convert_image(std::move(every_colour), Settings{});
    ASSERT_TRUE(std::holds_alternative<ErrorText>(outcome));
    EXPECT_EQ(std::get<ErrorText>(outcome).text, "unable to find unused color in image to use as key");

    // Colour precision 0 stops the clustering; binary mode ignores it.
    Settings no_precision;
    no_precision.color_precision = 0;
    try {
        (void)convert_image(filled(4, 4, OPAQUE_GREY), no_precision);
        ADD_FAILURE() << "no stop";
    } catch (const glyph::InternalFailure& failure) {
        EXPECT_EQ(failure.message, "assertion failed: is_same_color_a < 8");
    }
    no_precision.color_mode = ColorMode::Binary;
    EXPECT_TRUE(std::holds_alternative<SvgDocument>(convert_image(filled(4, 4, OPAQUE_GREY), no_precision)));
}

TEST(ColorDriver, PicturesWithoutPixels) {
    for (auto [w, h] : {std::pair<std::size_t, std::size_t>{0, 0}, {0, 3000000000u}}) {
        for (Hierarchy hierarchy : {Hierarchy::Stacked, Hierarchy::Cutout}) {
            Settings settings;
            settings.hierarchy = hierarchy;
            RgbaRaster image;
            image.width = w;
            image.height = h;
            const SvgDocument document = convert(std::move(image), settings);
            EXPECT_EQ(document.width, w);
            EXPECT_EQ(document.height, h);
            EXPECT_TRUE(document.paths.empty());
        }
    }
}
