#pragma once
// Channels packed into a pixel word by bit masks (BMP bit fields, DDS pixel
// formats, 5-5-5 and 5-6-5 words), widened to 8 bits.
#include <bit>
#include <cstdint>
#include <optional>

namespace pixmorf::decode_support {

// An n-bit channel value widened to 8 bits by repeating its bits: 5 bits v
// become v << 3 | v >> 2, 1 bit becomes 0 or 255. Wider channels keep their
// top 8 bits.
inline std::uint8_t widen_bits(std::uint32_t value, int bits) {
    if (bits <= 0) return 0;
    if (bits >= 8) return static_cast<std::uint8_t>(value >> (bits - 8));
    std::uint32_t widened = 0;
    int filled = 0;
    while (filled < 8) {
        widened = (widened << bits) | value;
        filled += bits;
    }
    return static_cast<std::uint8_t>(widened >> (filled - 8));
}

// One channel of a packed pixel: a contiguous run of bits.
struct ChannelMask {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    bool present() const { return bits > 0; }
    std::uint8_t extract(std::uint32_t pixel) const {
        return widen_bits((pixel & mask) >> shift, bits);
    }

    // The channel of a mask, or nothing when its bits are not contiguous or
    // do not fit into a pixel of `pixel_bits` bits. A zero mask is an absent
    // channel.
    static std::optional<ChannelMask> from_mask(std::uint32_t mask, int pixel_bits) {
        ChannelMask channel;
        if (mask == 0) return channel;
        if (pixel_bits < 32 && (mask >> pixel_bits) != 0) return std::nullopt;
        channel.mask = mask;
        channel.shift = std::countr_zero(mask);
        channel.bits = std::popcount(mask);
        const std::uint64_t run = (std::uint64_t{1} << channel.bits) - 1;
        if ((static_cast<std::uint64_t>(mask) >> channel.shift) != run) return std::nullopt;
        return channel;
    }
};

}  // namespace pixmorf::decode_support
