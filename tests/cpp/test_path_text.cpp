#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "failure.hpp"
#include "path/compound.hpp"
#include "point/point.hpp"

using namespace glyph;

namespace {

struct FormatCase {
    double value;
    std::optional<std::uint32_t> precision;
    std::string text;
};

std::string stop_message(const auto& action) {
    try {
        action();
    } catch (const InternalFailure& failure) {
        return failure.message;
    }
    return "(no stop)";
}

// Significant digits of a positional or scientific text: no sign, point,
// exponent, leading or trailing zeros.
std::string significant_digits(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c == 'e') break;
        if (c >= '0' && c <= '9') digits += c;
    }
    const auto first = digits.find_first_not_of('0');
    if (first == std::string::npos) return "";
    digits.erase(0, first);
    digits.erase(digits.find_last_not_of('0') + 1);
    return digits;
}

// Shortest round-trip digits found the slow way, by trying 1 to 17 digits.
std::string shortest_digits_by_search(double value) {
    char buffer[64];
    for (int digits = 1; digits <= 17; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, value);
        if (std::strtod(buffer, nullptr) == value) return significant_digits(buffer);
    }
    return "(none)";
}

std::string trimmed_printf_fixed(double value, int precision) {
    std::string text(1400, '\0');
    text.resize(static_cast<std::size_t>(std::snprintf(text.data(), text.size(), "%.*f", precision, value)));
    if (precision > 0) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

double random_finite_double(std::mt19937_64& rng) {
    for (;;) {
        const double value = std::bit_cast<double>(rng());
        if (std::isfinite(value)) return value;
    }
}

}  // namespace

TEST(FormatCoordinate, Table) {
    const std::optional<std::uint32_t> shortest;
    const FormatCase cases[] = {
        {100.0, shortest, "100"},
        {2.0, shortest, "2"},
        {0.1, shortest, "0.1"},
        {2.5, shortest, "2.5"},
        {-12.75, shortest, "-12.75"},
        {1e-7, shortest, "0.0000001"},
        {1e21, shortest, "1000000000000000000000"},
        {1e23, shortest, "100000000000000000000000"},
        {9007199254740993.0, shortest, "9007199254740992"},
        {123456789012345680000.0, shortest, "123456789012345680000"},
        {0.0, shortest, "0"},
        {-0.0, shortest, "-0"},
        {0.30000000000000004, shortest, "0.30000000000000004"},
        {5e-324, shortest, "0." + std::string(323, '0') + "5"},
        {2.5, 0, "2"},
        {3.5, 0, "4"},
        {-0.4, 0, "-0"},
        {10.0, 0, "10"},
        {1e23, 0, "99999999999999991611392"},
        {0.125, 2, "0.12"},
        {1.005, 2, "1"},
        {1.5, 3, "1.5"},
        {2.0, 3, "2"},
        {0.0001, 3, "0"},
        {12.34567, 3, "12.346"},
        {-0.0001, 3, "-0"},
        {7.0, 3, "7"},
        {-0.0, 2, "-0"},
        {100.0, 1, "100"},
        {0.1, 20, "0.10000000000000000555"},
        {std::numeric_limits<double>::infinity(), shortest, "inf"},
        {-std::numeric_limits<double>::infinity(), 2, "-inf"},
        {std::numeric_limits<double>::quiet_NaN(), shortest, "nan"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(format_coordinate(c.value, c.precision), c.text)
            << c.value << " at precision " << (c.precision ? std::to_string(*c.precision) : "absent");
    }
}

TEST(FormatCoordinate, PrecisionLimits) {
    EXPECT_EQ(stop_message([] { format_coordinate(1.0, 65536u); }), "Formatting argument out of range");
    EXPECT_EQ(stop_message([] { format_coordinate(1.0, 0xFFFFFFFFu); }), "Formatting argument out of range");
    // Every decimal of the smallest subnormal is exact at 1074 places; any
    // larger precision writes the same text.
    const double tiny = 5e-324;
    const std::string exact = format_coordinate(tiny, 1074u);
    EXPECT_EQ(exact, trimmed_printf_fixed(tiny, 1074));
    EXPECT_EQ(format_coordinate(tiny, 1073u), trimmed_printf_fixed(tiny, 1073));
    EXPECT_EQ(format_coordinate(tiny, 323u), "0");
    EXPECT_EQ(format_coordinate(tiny, 324u), "0." + std::string(323, '0') + "5");
    EXPECT_EQ(format_coordinate(tiny, 65535u), exact);
    EXPECT_EQ(format_coordinate(-1.0 / 3.0, 65535u), trimmed_printf_fixed(-1.0 / 3.0, 1074));
    EXPECT_EQ(format_coordinate(std::numeric_limits<double>::max(), 65535u),
              trimmed_printf_fixed(std::numeric_limits<double>::max(), 0));
}

TEST(FormatCoordinate, ShortestRoundTripsWithFewestDigits) {
    std::mt19937_64 rng(20240611);
    for (int i = 0; i < 4000; ++i) {
        // Half over all bit patterns, half over typical coordinate values.
        const double value = i % 2 ? random_finite_double(rng)
                                   : std::uniform_real_distribution<double>(-5000.0, 5000.0)(rng);
        const std::string text = format_coordinate(value, std::nullopt);
        ASSERT_EQ(text.find_first_of("eE+"), std::string::npos) << text;
        double parsed = 0.0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
        ASSERT_EQ(result.ptr, text.data() + text.size()) << text;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(parsed), std::bit_cast<std::uint64_t>(value)) << text;
        ASSERT_EQ(significant_digits(text), shortest_digits_by_search(value)) << text;
    }
}

TEST(FormatCoordinate, FixedMatchesExactPrintf) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 3000; ++i) {
        const double value = i % 3 ? std::uniform_real_distribution<double>(-1000.0, 1000.0)(rng)
                                   : random_finite_double(rng);
        const int precision = static_cast<int>(rng() % 24);
        ASSERT_EQ(format_coordinate(value, static_cast<std::uint32_t>(precision)),
                  trimmed_printf_fixed(value, precision))
            << value << " at " << precision;
    }
    // Exact ties round to even.
    for (int k = -40; k <= 40; ++k) {
        const double tie = k + 0.5;
        ASSERT_EQ(format_coordinate(tie, 0u), trimmed_printf_fixed(tie, 0));
    }
}

TEST(PointText, CommaJoined) {
    EXPECT_EQ((PointI{-3, 42}).to_path_data(), "-3,42");
    EXPECT_EQ((PointI{std::numeric_limits<std::int32_t>::min(), 0}).to_path_data(), "-2147483648,0");
    EXPECT_EQ((PointF{2.5, -0.0}).to_path_data(std::nullopt), "2.5,-0");
    EXPECT_EQ((PointF{2.5, 0.126}).to_path_data(2u), "2.5,0.13");
}

TEST(PolygonText, CommandsAndClose) {
    const PixelPath rect{{{10, 20}, {13, 20}, {13, 22}, {10, 22}, {10, 20}}};
    EXPECT_EQ(rect.to_path_data(true, {-10, -20}, std::nullopt), "M0,0 L3,0 L3,2 L0,2 Z ");
    EXPECT_EQ(rect.to_path_data(false, {0, 0}, 65536u), "M10,20 L13,20 L13,22 L10,22 L10,20 ");
    EXPECT_EQ(PixelPath{}.to_path_data(true, {}, {}), "");
    EXPECT_EQ((PixelPath{{{4, 4}}}).to_path_data(true, {}, {}), "M4,4 Z ");
    EXPECT_EQ((PixelPath{{{4, 4}}}).to_path_data(false, {}, {}), "M4,4 ");
    EXPECT_EQ((PixelPath{{{4, 4}, {4, 4}}}).to_path_data(true, {}, {}), "M4,4 Z ");
    // Integer offsets wrap around.
    EXPECT_EQ((PixelPath{{{std::numeric_limits<std::int32_t>::max(), 0}}}).to_path_data(false, {1, 0}, {}),
              "M-2147483648,0 ");

    const FloatPath floats{{{0.5, 0.25}, {1.125, 0.25}, {0.5, 0.25}}};
    EXPECT_EQ(floats.to_path_data(true, {1.0, 0.0}, std::nullopt), "M1.5,0.25 L2.125,0.25 Z ");
    EXPECT_EQ(floats.to_path_data(false, {0.0, 0.0}, 1u), "M0.5,0.2 L1.1,0.2 L0.5,0.2 ");
    EXPECT_EQ(FloatPath{}.to_path_data(true, {}, {}), "");
}

TEST(SplineText, SegmentsAndLengthRules) {
    const Spline curve{{{0, 0}, {1, 0}, {2, 1}, {2, 2}}};
    EXPECT_EQ(curve.to_path_data(true, {0, 0}, 2u), "M0 0 C1 0 2 1 2 2 Z ");
    EXPECT_EQ(curve.to_path_data(false, {0.5, -1}, std::nullopt), "M0.5 -1 C1.5 -1 2.5 0 2.5 1 ");
    const Spline two{{{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}, {0, 0}, {0, 0}}};
    EXPECT_EQ(two.to_path_data(true, {}, 0u), "M0 0 C1 0 1 1 0 1 C0 0 0 0 0 0 Z ");

    for (std::size_t m = 0; m < 4; ++m) {
        EXPECT_EQ((Spline{std::vector<PointF>(m)}).to_path_data(true, {}, 65536u), "") << m;
    }
    for (std::size_t m : {5u, 6u, 8u}) {
        EXPECT_EQ(stop_message([m] { (Spline{std::vector<PointF>(m)}).to_path_data(true, {}, {}); }),
                  "Invalid spline! Length must be 1+3n.")
            << m;
    }
    EXPECT_EQ(stop_message([&] { curve.to_path_data(true, {}, 65536u); }), "Formatting argument out of range");
}

TEST(CompoundText, RebasedOnFirstPoint) {
    CompoundPath shape;
    shape.append(PixelPath{{{10, 20}, {13, 20}, {13, 22}, {10, 22}, {10, 20}}});
    auto [text, translation] = shape.to_path_data(true, {0, 0}, std::nullopt);
    EXPECT_EQ(text, "M0,0 L3,0 L3,2 L0,2 Z ");
    EXPECT_EQ(translation, (PointF{10, 20}));

    shape.append(PixelPath{{{11, 21}, {11, 22}, {12, 22}, {12, 21}, {11, 21}}});
    std::tie(text, translation) = shape.to_path_data(true, {1.5, -2}, 65536u);
    EXPECT_EQ(text, "M0,0 L3,0 L3,2 L0,2 Z M1,1 L1,2 L2,2 L2,1 Z ");
    EXPECT_EQ(translation, (PointF{11.5, 18}));

    CompoundPath one_vertex;
    one_vertex.append(PixelPath{{{7, 9}}});
    EXPECT_EQ(one_vertex.to_path_data(true, {}, {}).first, "M0,0 Z ");
    CompoundPath repeat;
    repeat.append(PixelPath{{{7, 9}, {7, 9}}});
    EXPECT_EQ(repeat.to_path_data(true, {}, {}).first, "M0,0 Z ");
    EXPECT_EQ(repeat.to_path_data(false, {}, {}).first, "M0,0 L0,0 ");

    const auto [empty_text, empty_translation] = CompoundPath{}.to_path_data(true, {3, 4}, {});
    EXPECT_EQ(empty_text, "");
    EXPECT_EQ(empty_translation, (PointF{3, 4}));
}

TEST(CompoundText, SplinesAndZeroOrigin) {
    CompoundPath shape;
    shape.append(Spline{{{2.5, 0.1}, {3.5, 0.1}, {4.5, 1.1}, {2.5, 0.1}}});
    shape.append(Spline{{{3, 1}, {3, 1}, {3, 1}, {3, 1}}});
    const auto [text, translation] = shape.to_path_data(true, {0, 0}, 0u);
    EXPECT_EQ(text, "M0 0 C1 0 2 1 0 0 Z M0 1 C0 1 0 1 0 1 Z ");
    EXPECT_EQ(translation, (PointF{2.5, 0.1}));

    // A zero first coordinate gives +0.0 both in the text and the translation.
    CompoundPath at_zero;
    at_zero.append(FloatPath{{{-0.0, 0.0}, {1.0, 0.0}}});
    const auto [zero_text, zero_translation] = at_zero.to_path_data(false, {0, 0}, std::nullopt);
    EXPECT_EQ(zero_text, "M0,0 L1,0 ");
    EXPECT_FALSE(std::signbit(zero_translation.x));
    EXPECT_FALSE(std::signbit(zero_translation.y));
}

TEST(CompoundText, EmptyFirstSubPathStops) {
    CompoundPath shape;
    shape.append(PixelPath{});
    shape.append(PixelPath{{{1, 1}}});
    EXPECT_NE(stop_message([&] { shape.to_path_data(true, {}, {}); }), "(no stop)");
}
