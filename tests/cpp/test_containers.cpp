#include <gtest/gtest.h>

#include "color/color.hpp"
#include "image/format/bit_raster.hpp"
#include "image/format/rgba_raster.hpp"
#include "point/rect.hpp"

using namespace glyph;

TEST(Color, HexIgnoresAlpha) {
    EXPECT_EQ((Color{0, 0, 0, 255}).to_hex(), "#000000");
    EXPECT_EQ((Color{255, 128, 10, 0}).to_hex(), "#FF800A");
    EXPECT_EQ((Color{0, 0, 0, 255}).packed(), 0xFF000000u);
}

TEST(Rect, IncludeAndUnion) {
    Rect r;
    EXPECT_TRUE(r.is_empty());
    r.include_pixel(2, 3);
    EXPECT_EQ(r, (Rect{2, 3, 3, 4}));
    r.include_pixel(0, 5);
    EXPECT_EQ(r, (Rect{0, 3, 3, 6}));
    Rect u;
    u.union_with(Rect{1, 1, 4, 2});
    EXPECT_EQ(u, (Rect{1, 1, 4, 2}));
    u.union_with(Rect{});
    EXPECT_EQ(u, (Rect{1, 1, 4, 2}));
    EXPECT_FALSE((Rect{5, 5, 5, 9}).is_empty());
}

TEST(BitRaster, EdgesInvertAndOutside) {
    BitRaster full = BitRaster::create(3, 3);
    for (std::size_t y = 0; y < 3; ++y)
        for (std::size_t x = 0; x < 3; ++x) full.set_pixel(x, y, true);
    EXPECT_EQ(full.edge_pixels().size(), 8u);
    EXPECT_FALSE(full.get_pixel_or_false(-1, 0));
    EXPECT_FALSE(full.get_pixel_or_false(0, -1));
    EXPECT_FALSE(full.get_pixel_or_false(3, 0));
    EXPECT_FALSE(full.get_pixel_or_false(0, 3));

    BitRaster centre = BitRaster::create(3, 3);
    centre.set_pixel(1, 1, true);
    BitRaster ring = centre.inverted();
    EXPECT_FALSE(ring.get_pixel(1, 1));
    EXPECT_EQ(ring.edge_pixels().size(), 8u);
    EXPECT_EQ(ring.inverted().words, centre.words);
    EXPECT_TRUE(BitRaster::create(0, 0).edge_pixels().empty());
}

TEST(RgbaRaster, MakeBinaryOnRed) {
    RgbaRaster image = RgbaRaster::create(3, 1);
    EXPECT_EQ(image.get_pixel(1, 0), (Color{0, 0, 0, 0}));
    image.set_pixel(0, 0, {127, 255, 255, 255});
    image.set_pixel(2, 0, {128, 0, 0, 255});
    BitRaster bits = image.make_binary([](Color c) { return c.r < 128; });
    EXPECT_TRUE(bits.get_pixel(0, 0));
    EXPECT_TRUE(bits.get_pixel(1, 0));
    EXPECT_FALSE(bits.get_pixel(2, 0));
}
