#include "point.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

#include "../failure.hpp"

namespace glyph {

namespace {

// A double's exact value never has more than 1074 fractional digits, so any
// higher precision pads only zeros, which the trimming removes again.
constexpr std::uint32_t MAX_EXACT_DECIMALS = 1074;

// Sign, 309 integer digits, the point and 1074 decimals of the largest case.
constexpr std::size_t FIXED_BUFFER_SIZE = 1 + 309 + 1 + MAX_EXACT_DECIMALS + 15;

// The shortest digits that read back to the same double, laid out in plain
// positional notation. std::to_chars' own fixed form prints the exact integer
// for magnitudes of 2**53 and above (1e23 as 99999999999999991611392), so the
// digits are taken from the scientific form and padded with zeros here.
std::string shortest_positional(double value) {
    std::array<char, 32> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value),
                                      std::chars_format::scientific);
    const std::string_view scientific(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));

    // "d[.ddd]e[+-]xx"
    const std::size_t e_pos = scientific.find('e');
    std::string digits(1, scientific[0]);
    if (e_pos > 1) digits.append(scientific.substr(2, e_pos - 2));
    std::size_t exponent_start = e_pos + 1;
    if (scientific[exponent_start] == '+') ++exponent_start;
    int exponent = 0;
    std::from_chars(scientific.data() + exponent_start, scientific.data() + scientific.size(), exponent);

    std::string text;
    if (std::signbit(value)) text += '-';
    const long integer_digits = exponent + 1L;
    const long digit_count = static_cast<long>(digits.size());
    if (integer_digits >= digit_count) {
        text += digits;
        text.append(static_cast<std::size_t>(integer_digits - digit_count), '0');
    } else if (integer_digits > 0) {
        text.append(digits, 0, static_cast<std::size_t>(integer_digits));
        text += '.';
        text.append(digits, static_cast<std::size_t>(integer_digits));
    } else {
        text += "0.";
        text.append(static_cast<std::size_t>(-integer_digits), '0');
        text += digits;
    }
    return text;
}

// Exactly rounded (ties to even on the stored value) with `decimals` digits
// after the point; with decimals > 0 trailing zeros and then the point go.
std::string rounded_fixed(double value, std::uint32_t decimals) {
    decimals = std::min(decimals, MAX_EXACT_DECIMALS);
    std::array<char, FIXED_BUFFER_SIZE> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, static_cast<int>(decimals));
    char* end = result.ptr;
    if (decimals > 0) {
        while (end[-1] == '0') --end;
        while (end[-1] == '.') --end;
    }
    return std::string(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
}

}  // namespace

std::string PointI::to_path_data() const { return std::to_string(x) + "," + std::to_string(y); }

std::string PointF::to_path_data(std::optional<std::uint32_t> precision) const {
    return format_coordinate(x, precision) + "," + format_coordinate(y, precision);
}

std::string format_coordinate(double value, std::optional<std::uint32_t> precision) {
    if (precision && *precision > MAX_PATH_PRECISION) stop("Formatting argument out of range");
    // Coordinates come from pixel corners and bounded arithmetic on them, so
    // infinity and NaN do not occur. Should one appear it is written as
    // "inf", "-inf" or "nan" at every precision: visibly wrong in the SVG
    // rather than silently replaced by some number.
    if (!std::isfinite(value)) {
        if (std::isnan(value)) return "nan";
        return value < 0 ? "-inf" : "inf";
    }
    if (!precision) return shortest_positional(value);
    return rounded_fixed(value, *precision);
}

}  // namespace glyph
