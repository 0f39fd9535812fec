#pragma once
// What a format decoder delivers before the common conversion to 8-bit RGBA.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pixmorf {

enum class PixelLayout : std::uint8_t { Grey, GreyAlpha, Rgb, Rgba };

inline constexpr std::size_t channel_count(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::Grey: return 1;
        case PixelLayout::GreyAlpha: return 2;
        case PixelLayout::Rgb: return 3;
        case PixelLayout::Rgba: return 4;
    }
    return 4;
}

// Decoders refuse pictures of more pixels than this (512 MiB of 8-bit RGBA),
// checked on the declared size before any pixel memory is allocated.
inline constexpr std::uint64_t MAX_DECODED_PIXELS = 134217728;

// True when width x height is a picture a decoder may allocate.
inline bool within_decode_limit(std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0) return true;
    return width <= MAX_DECODED_PIXELS / height;
}

// Samples row-major, top row first, channels interleaved in layout order.
// Exactly one of samples8 / samples16 is used, by bits_per_channel (8 or 16).
struct DecodedImage {
    std::size_t width = 0;
    std::size_t height = 0;
    PixelLayout layout = PixelLayout::Rgba;
    int bits_per_channel = 8;
    std::vector<std::uint8_t> samples8;
    std::vector<std::uint16_t> samples16;
};

// A decoder: the whole encoded file in, a picture or nothing out. Decoders
// never throw for bad input and never read outside `data`.
using DecodeResult = std::optional<DecodedImage>;

DecodeResult decode_png(std::span<const std::uint8_t> data);
DecodeResult decode_jpeg(std::span<const std::uint8_t> data);
DecodeResult decode_gif(std::span<const std::uint8_t> data);
DecodeResult decode_webp(std::span<const std::uint8_t> data);
DecodeResult decode_tiff(std::span<const std::uint8_t> data);
DecodeResult decode_pnm(std::span<const std::uint8_t> data);
DecodeResult decode_tga(std::span<const std::uint8_t> data);
DecodeResult decode_dds(std::span<const std::uint8_t> data);
DecodeResult decode_bmp(std::span<const std::uint8_t> data);
DecodeResult decode_ico(std::span<const std::uint8_t> data);
DecodeResult decode_hdr(std::span<const std::uint8_t> data);
DecodeResult decode_farbfeld(std::span<const std::uint8_t> data);

}  // namespace pixmorf
