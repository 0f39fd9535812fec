#pragma once
#include <cstdint>

namespace glyph {

// Axis-aligned integer rectangle; right and bottom are exclusive.
struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const Rect&) const = default;

    bool is_empty() const { return left == right && top == bottom; }
    std::int32_t width() const { return right - left; }
    std::int32_t height() const { return bottom - top; }

    void include_pixel(std::int32_t x, std::int32_t y) {
        if (is_empty()) {
            *this = {x, y, x + 1, y + 1};
            return;
        }
        if (x < left) left = x;
        else if (x + 1 > right) right = x + 1;
        if (y < top) top = y;
        else if (y + 1 > bottom) bottom = y + 1;
    }

    void union_with(const Rect& other) {
        if (other.is_empty()) return;
        if (is_empty()) {
            *this = other;
            return;
        }
        if (other.left < left) left = other.left;
        if (other.top < top) top = other.top;
        if (other.right > right) right = other.right;
        if (other.bottom > bottom) bottom = other.bottom;
    }
};

}  // namespace glyph
