// DirectDraw Surface: the top mip level (the first face or slice) of an
// uncompressed surface described by channel masks (RGB, RGBA, luminance,
// luminance with alpha, alpha only) or of a DXT1, DXT3 or DXT5 surface. The
// DX10 extension header and all other FourCC codes are refused.
//
// Fixed conversions:
// - mask channels of n bits are widened by repeating their bits (top 8 bits
//   kept when wider); an alpha-only surface becomes black with that alpha;
// - block colours are 5-6-5 widened by repeating bits; the two interpolated
//   colours are (2 c0 + c1 + 1) div 3 and (c0 + 2 c1 + 1) div 3 per channel;
//   in DXT1 when c0 <= c1 the third colour is (c0 + c1 + 1) div 2 and the
//   fourth transparent black; DXT3 and DXT5 always use four colours;
// - DXT3 alpha is 4 bits widened (a x 17); DXT5 alpha steps between a0 and
//   a1 are ((n - i) a0 + i a1 + n div 2) div n with n = 7 when a0 > a1, else
//   n = 5 followed by 0 and 255;
// - blocks overhanging a width or height that is not a multiple of 4 are
//   cropped.
#include <array>
#include <cstring>

#include "byte_reader.hpp"
#include "channel_bits.hpp"

namespace pixmorf {

namespace {

using decode_support::allocate_image;
using decode_support::ByteReader;
using decode_support::ChannelMask;
using decode_support::load_le16;
using decode_support::load_le32;
using decode_support::widen_bits;

constexpr std::uint32_t DDPF_ALPHAPIXELS = 0x1;
constexpr std::uint32_t DDPF_ALPHA = 0x2;
constexpr std::uint32_t DDPF_FOURCC = 0x4;
constexpr std::uint32_t DDPF_RGB = 0x40;
constexpr std::uint32_t DDPF_LUMINANCE = 0x20000;

constexpr std::uint32_t HEADER_SIZE = 124;
constexpr std::uint32_t PIXEL_FORMAT_SIZE = 32;

constexpr std::uint32_t four_cc(const char (&code)[5]) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[0])) |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(code[3])) << 24;
}

using Rgba = std::array<std::uint8_t, 4>;
using Block = std::array<Rgba, 16>;  // 4 x 4 pixels, row-major

enum class BlockFormat : std::uint8_t { Dxt1, Dxt3, Dxt5 };

Rgba from_565(std::uint16_t v) {
    return {widen_bits(v >> 11, 5), widen_bits((v >> 5) & 63, 6), widen_bits(v & 31, 5), 255};
}

// The colour half of a block: 2 colours of 5-6-5, 16 two-bit indices.
void decode_color_block(const std::uint8_t* src, bool allow_one_bit_alpha, Block& block) {
    const std::uint16_t c0 = load_le16(src);
    const std::uint16_t c1 = load_le16(src + 2);
    std::array<Rgba, 4> colors{from_565(c0), from_565(c1), Rgba{}, Rgba{}};
    for (std::size_t ch = 0; ch < 3; ++ch) {
        const unsigned a = colors[0][ch];
        const unsigned b = colors[1][ch];
        if (c0 > c1 || !allow_one_bit_alpha) {
            colors[2][ch] = static_cast<std::uint8_t>((2 * a + b + 1) / 3);
            colors[3][ch] = static_cast<std::uint8_t>((a + 2 * b + 1) / 3);
        } else {
            colors[2][ch] = static_cast<std::uint8_t>((a + b + 1) / 2);
            colors[3][ch] = 0;
        }
    }
    colors[2][3] = 255;
    colors[3][3] = (c0 > c1 || !allow_one_bit_alpha) ? 255 : 0;
    const std::uint32_t indices = load_le32(src + 4);
    for (std::size_t i = 0; i < 16; ++i) block[i] = colors[(indices >> (2 * i)) & 3];
}

void decode_explicit_alpha(const std::uint8_t* src, Block& block) {
    for (std::size_t i = 0; i < 16; ++i) {
        block[i][3] = static_cast<std::uint8_t>(((src[i / 2] >> (4 * (i % 2))) & 0x0F) * 17);
    }
}

void decode_interpolated_alpha(const std::uint8_t* src, Block& block) {
    const unsigned a0 = src[0];
    const unsigned a1 = src[1];
    std::array<std::uint8_t, 8> levels{static_cast<std::uint8_t>(a0), static_cast<std::uint8_t>(a1)};
    const unsigned steps = a0 > a1 ? 7 : 5;
    for (unsigned i = 1; i < steps; ++i) {
        levels[i + 1] = static_cast<std::uint8_t>(((steps - i) * a0 + i * a1 + steps / 2) / steps);
    }
    if (steps == 5) {
        levels[6] = 0;
        levels[7] = 255;
    }
    std::uint64_t codes = 0;
    for (std::size_t i = 0; i < 6; ++i) codes |= std::uint64_t{src[2 + i]} << (8 * i);
    for (std::size_t i = 0; i < 16; ++i) block[i][3] = levels[(codes >> (3 * i)) & 7];
}

DecodeResult decode_blocks(ByteReader& reader, std::uint64_t width, std::uint64_t height, BlockFormat format) {
    if (!within_decode_limit(width, height)) return std::nullopt;
    const std::size_t block_size = format == BlockFormat::Dxt1 ? 8 : 16;
    const std::uint64_t blocks_across = (width + 3) / 4;
    const std::uint64_t blocks_down = (height + 3) / 4;
    const auto blocks = reader.take(blocks_across * blocks_down * block_size);
    if (!reader.ok()) return std::nullopt;
    auto image = allocate_image(width, height, PixelLayout::Rgba, 8);
    if (!image || width == 0 || height == 0) return image;
    const std::size_t w = image->width;
    const std::size_t h = image->height;
    const std::uint8_t* src = blocks.data();
    Block block{};
    for (std::size_t by = 0; by < h; by += 4) {
        for (std::size_t bx = 0; bx < w; bx += 4, src += block_size) {
            switch (format) {
                case BlockFormat::Dxt1:
                    decode_color_block(src, true, block);
                    break;
                case BlockFormat::Dxt3:
                    decode_color_block(src + 8, false, block);
                    decode_explicit_alpha(src, block);
                    break;
                case BlockFormat::Dxt5:
                    decode_color_block(src + 8, false, block);
                    decode_interpolated_alpha(src, block);
                    break;
            }
            for (std::size_t y = by; y < by + 4 && y < h; ++y) {
                for (std::size_t x = bx; x < bx + 4 && x < w; ++x) {
                    const Rgba& pixel = block[(y - by) * 4 + (x - bx)];
                    std::memcpy(image->samples8.data() + (y * w + x) * 4, pixel.data(), 4);
                }
            }
        }
    }
    return image;
}

DecodeResult decode_masked(ByteReader& reader, std::uint64_t width, std::uint64_t height, std::uint32_t flags,
                           std::uint32_t bit_count, const std::array<std::uint32_t, 4>& masks) {
    if (bit_count != 8 && bit_count != 16 && bit_count != 24 && bit_count != 32) return std::nullopt;
    const int bits = static_cast<int>(bit_count);
    const bool has_alpha = (flags & (DDPF_ALPHAPIXELS | DDPF_ALPHA)) != 0;
    std::array<ChannelMask, 4> channels{};  // red (or luminance), green, blue, alpha
    bool masks_valid = true;
    auto use_mask = [&](std::size_t i) {
        const auto channel = ChannelMask::from_mask(masks[i], bits);
        if (channel) channels[i] = *channel;
        masks_valid = masks_valid && channel.has_value();
    };
    PixelLayout layout{};
    if (flags & DDPF_RGB) {
        layout = PixelLayout::Rgba;
        use_mask(0);
        use_mask(1);
        use_mask(2);
    } else if (flags & DDPF_LUMINANCE) {
        layout = has_alpha ? PixelLayout::GreyAlpha : PixelLayout::Grey;
        use_mask(0);
    } else if (flags & DDPF_ALPHA) {
        layout = PixelLayout::GreyAlpha;  // the grey channel stays absent: black
    } else {
        return std::nullopt;
    }
    if (has_alpha) use_mask(3);
    if (!masks_valid) return std::nullopt;

    if (!within_decode_limit(width, height)) return std::nullopt;
    const std::size_t pixel_size = bit_count / 8;
    const auto pixels = reader.take(width * height * pixel_size);
    if (!reader.ok()) return std::nullopt;
    auto image = allocate_image(width, height, layout, 8);
    if (!image) return image;
    std::uint8_t* out = image->samples8.data();
    const std::size_t pixel_count = image->width * image->height;
    for (std::size_t p = 0; p < pixel_count; ++p) {
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < pixel_size; ++b) value |= std::uint32_t{pixels[p * pixel_size + b]} << (8 * b);
        const std::uint8_t alpha = channels[3].present() ? channels[3].extract(value) : 255;
        switch (layout) {
            case PixelLayout::Rgba:
                *out++ = channels[0].extract(value);
                *out++ = channels[1].extract(value);
                *out++ = channels[2].extract(value);
                *out++ = alpha;
                break;
            case PixelLayout::GreyAlpha:
                *out++ = channels[0].extract(value);  // 0 for an alpha-only surface
                *out++ = alpha;
                break;
            default:
                *out++ = channels[0].extract(value);
                break;
        }
    }
    return image;
}

DecodeResult decode_dds_checked(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    const auto magic = reader.take(4);
    const std::uint32_t header_size = reader.le32();
    reader.le32();  // flags: writers fill them unreliably, the pixel format decides
    const std::uint32_t height = reader.le32();
    const std::uint32_t width = reader.le32();
    reader.skip(4 + 4 + 4 + 44);  // pitch, depth, mip count, reserved
    const std::uint32_t format_size = reader.le32();
    const std::uint32_t format_flags = reader.le32();
    const std::uint32_t code = reader.le32();
    const std::uint32_t bit_count = reader.le32();
    std::array<std::uint32_t, 4> masks{};
    for (auto& mask : masks) mask = reader.le32();
    reader.skip(20);  // caps, reserved
    if (!reader.ok() || std::memcmp(magic.data(), "DDS ", 4) != 0 || header_size != HEADER_SIZE ||
        format_size != PIXEL_FORMAT_SIZE) {
        return std::nullopt;
    }
    if (format_flags & DDPF_FOURCC) {
        if (code == four_cc("DXT1")) return decode_blocks(reader, width, height, BlockFormat::Dxt1);
        if (code == four_cc("DXT3")) return decode_blocks(reader, width, height, BlockFormat::Dxt3);
        if (code == four_cc("DXT5")) return decode_blocks(reader, width, height, BlockFormat::Dxt5);
        return std::nullopt;
    }
    return decode_masked(reader, width, height, format_flags, bit_count, masks);
}

}  // namespace

DecodeResult decode_dds(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_dds_checked(data); });
}

}  // namespace pixmorf
