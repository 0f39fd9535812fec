#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

#include "converter/settings.hpp"

using namespace pixmorf;

TEST(ConversionParams, DefaultsAndAnglesBitExact) {
    const ConversionParams params = conversion_params(Settings{});
    EXPECT_EQ(params.speckle_area, 16u);
    EXPECT_EQ(params.color_tolerance, 2);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(params.corner_threshold_rad),
              std::bit_cast<std::uint64_t>(1.0471975511965976));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(params.splice_threshold_rad),
              std::bit_cast<std::uint64_t>(0.7853981633974483));

    Settings negative;
    negative.corner_threshold = -90;
    negative.splice_threshold = 0;
    const ConversionParams turned = conversion_params(negative);
    EXPECT_EQ(turned.corner_threshold_rad, -90 / 180.0 * 3.141592653589793);
    EXPECT_EQ(turned.splice_threshold_rad, 0.0);
}

TEST(ConversionParams, WrapAround) {
    struct Case {
        std::uint64_t filter_speckle;
        std::int32_t color_precision;
        std::uint64_t speckle_area;
        std::int32_t color_tolerance;
    };
    constexpr std::int32_t int_min = std::numeric_limits<std::int32_t>::min();
    const Case cases[] = {
        {0, 8, 0, 0},
        {1, 0, 1, 8},
        {3, 9, 9, -1},
        {1ull << 32, int_min, 0, -2147483640},
        {(1ull << 32) + 1, std::numeric_limits<std::int32_t>::max(), (1ull << 33) + 1, -2147483639},
        {UINT64_MAX, -1, 1, 9},
    };
    for (const Case& c : cases) {
        Settings settings;
        settings.filter_speckle = c.filter_speckle;
        settings.color_precision = c.color_precision;
        const ConversionParams params = conversion_params(settings);
        EXPECT_EQ(params.speckle_area, c.speckle_area) << c.filter_speckle;
        EXPECT_EQ(params.color_tolerance, c.color_tolerance) << c.color_precision;
    }
}
