#include "color.hpp"

namespace glyph {

std::string Color::to_hex() const {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(7, '#');
    const std::uint8_t channels[3] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        text[1 + 2 * i] = digits[channels[i] >> 4];
        text[2 + 2 * i] = digits[channels[i] & 0xF];
    }
    return text;
}

}  // namespace glyph
