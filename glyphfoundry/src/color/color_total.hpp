#pragma once
// Running colour total of a set of pixels, and its average.
#include <cstdint>

#include "color.hpp"

namespace glyph {

// Channel sums are 64-bit so that the average stays exact for any cluster a
// 32-bit pixel index can address (255 x 2^32 fits easily).
struct ColorTotal {
    std::uint64_t r = 0;
    std::uint64_t g = 0;
    std::uint64_t b = 0;
    std::uint64_t a = 0;
    std::uint32_t count = 0;

    bool operator==(const ColorTotal&) const = default;

    void add(Color c) {
        r += c.r;
        g += c.g;
        b += c.b;
        a += c.a;
        ++count;
    }
    void add(const ColorTotal& other) {
        r += other.r;
        g += other.g;
        b += other.b;
        a += other.a;
        count += other.count;
    }
    // Truncating per-channel mean; only taken when count is at least 1.
    Color average() const {
        if (count == 1) {  // half the clusters of a photograph after the first pass
            return {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b),
                    static_cast<std::uint8_t>(a)};
        }
        if ((r | g | b | a) <= 0xFFFFFFFFu) {
            // The usual case, in the cheaper 32-bit division.
            const auto n = static_cast<std::uint32_t>(count);
            return {static_cast<std::uint8_t>(static_cast<std::uint32_t>(r) / n),
                    static_cast<std::uint8_t>(static_cast<std::uint32_t>(g) / n),
                    static_cast<std::uint8_t>(static_cast<std::uint32_t>(b) / n),
                    static_cast<std::uint8_t>(static_cast<std::uint32_t>(a) / n)};
        }
        return {static_cast<std::uint8_t>(r / count), static_cast<std::uint8_t>(g / count),
                static_cast<std::uint8_t>(b / count), static_cast<std::uint8_t>(a / count)};
    }
};

}  // namespace glyph
