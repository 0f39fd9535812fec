#pragma once
#include <cstdint>
#include <string>

namespace glyph {

// One RGBA pixel. Packed into a word, r is the least significant byte.
struct Color {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 0;

    bool operator==(const Color&) const = default;

    std::uint32_t packed() const {
        return std::uint32_t{r} | std::uint32_t{g} << 8 | std::uint32_t{b} << 16 |
               std::uint32_t{a} << 24;
    }
    // "#RRGGBB", upper-case hexadecimal; alpha is not written.
    std::string to_hex() const;
};

}  // namespace glyph
