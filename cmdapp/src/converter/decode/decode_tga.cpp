// Truevision TGA: colour-mapped (8- or 16-bit indices), true-colour (15, 16,
// 24, 32 bits) and grey (8 bits, or 16 bits as grey and alpha) images,
// uncompressed or run-length encoded, stored from any of the four corners.
//
// Fixed conversions:
// - 15- and 16-bit pixels and colour-map entries are 5-5-5 with each channel
//   widened by repeating its bits; the top bit of a 16-bit value is alpha
//   (set: 255, clear: 0) only when the descriptor declares exactly one
//   attribute bit, otherwise it is ignored and the pixel is opaque;
// - the fourth byte of a 32-bit pixel or colour-map entry is alpha;
// - an index outside the colour map fails the decode;
// - run-length packets may cross rows but not the end of the picture.
// Interleaved images are refused. The footer and extension area are ignored.
#include <algorithm>
#include <array>
#include <vector>

#include "byte_reader.hpp"
#include "channel_bits.hpp"

namespace pixmorf {

namespace {

using decode_support::allocate_image;
using decode_support::ByteReader;
using decode_support::load_le16;
using decode_support::widen_bits;

enum ImageKind : std::uint8_t { COLOR_MAPPED = 1, TRUE_COLOR = 2, GREY = 3 };
constexpr std::uint8_t RLE_FLAG = 8;

using Rgba = std::array<std::uint8_t, 4>;

// A true-colour value of 15, 16, 24 or 32 bits as RGBA.
Rgba true_color(const std::uint8_t* src, unsigned bits, bool one_bit_alpha) {
    switch (bits) {
        case 15:
        case 16: {
            const std::uint16_t v = load_le16(src);
            const bool has_alpha = bits == 16 && one_bit_alpha;
            return {widen_bits((v >> 10) & 31, 5), widen_bits((v >> 5) & 31, 5), widen_bits(v & 31, 5),
                    static_cast<std::uint8_t>(has_alpha && !(v & 0x8000) ? 0 : 255)};
        }
        case 24:
            return {src[2], src[1], src[0], 255};
        default:
            return {src[2], src[1], src[0], src[3]};
    }
}

// Where the k-th stored pixel goes in the top-left-origin output.
class Placement {
public:
    Placement(std::uint8_t* out, std::size_t width, std::size_t height, std::size_t channels, bool right_to_left,
              bool top_down)
        : out_(out), width_(width), height_(height), channels_(channels), right_to_left_(right_to_left),
          top_down_(top_down) {}

    std::uint8_t* next() {
        const std::size_t x = right_to_left_ ? width_ - 1 - column_ : column_;
        const std::size_t y = top_down_ ? row_ : height_ - 1 - row_;
        if (++column_ == width_) {
            column_ = 0;
            ++row_;
        }
        return out_ + (y * width_ + x) * channels_;
    }

private:
    std::uint8_t* out_;
    std::size_t width_, height_, channels_;
    bool right_to_left_, top_down_;
    std::size_t column_ = 0, row_ = 0;
};

DecodeResult decode_tga_checked(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    const std::uint8_t id_length = reader.u8();
    const std::uint8_t color_map_type = reader.u8();
    const std::uint8_t image_type = reader.u8();
    const std::uint16_t map_first = reader.le16();
    const std::uint16_t map_length = reader.le16();
    const std::uint8_t map_bits = reader.u8();
    reader.skip(4);  // x and y origin
    const std::uint16_t width = reader.le16();
    const std::uint16_t height = reader.le16();
    const std::uint8_t depth = reader.u8();
    const std::uint8_t descriptor = reader.u8();
    if (!reader.ok() || color_map_type > 1 || (descriptor & 0xC0) != 0) return std::nullopt;

    const bool rle = (image_type & RLE_FLAG) != 0;
    const auto kind = static_cast<std::uint8_t>(image_type & ~RLE_FLAG);
    const bool one_bit_alpha = (descriptor & 0x0F) == 1;
    bool valid = false;
    switch (kind) {
        case COLOR_MAPPED: valid = color_map_type == 1 && (depth == 8 || depth == 16); break;
        case TRUE_COLOR: valid = depth == 15 || depth == 16 || depth == 24 || depth == 32; break;
        case GREY: valid = depth == 8 || depth == 16; break;
        default: break;
    }
    if (!valid) return std::nullopt;

    reader.skip(id_length);
    std::vector<Rgba> palette;
    if (color_map_type == 1) {
        if (map_bits != 15 && map_bits != 16 && map_bits != 24 && map_bits != 32) return std::nullopt;
        const std::size_t entry_size = (map_bits + 7u) / 8;
        const auto entries = reader.take(std::uint64_t{map_length} * entry_size);
        if (!reader.ok()) return std::nullopt;
        if (kind == COLOR_MAPPED) {
            palette.resize(map_length);
            for (std::size_t i = 0; i < palette.size(); ++i) {
                palette[i] = true_color(entries.data() + i * entry_size, map_bits, one_bit_alpha);
            }
        }
    }
    if (!reader.ok()) return std::nullopt;

    const PixelLayout layout =
        kind == GREY ? (depth == 8 ? PixelLayout::Grey : PixelLayout::GreyAlpha) : PixelLayout::Rgba;
    const std::size_t channels = channel_count(layout);
    const std::size_t pixel_size = (depth + 7u) / 8;
    const std::size_t pixel_count = std::size_t{width} * height;

    // One stored pixel to its output channels; false for an index outside the map.
    auto convert = [&](const std::uint8_t* src, std::uint8_t* dst) {
        switch (kind) {
            case COLOR_MAPPED: {
                const std::size_t index = depth == 8 ? src[0] : load_le16(src);
                if (index < map_first || index - map_first >= palette.size()) return false;
                const Rgba& color = palette[index - map_first];
                std::copy(color.begin(), color.end(), dst);
                return true;
            }
            case TRUE_COLOR: {
                const Rgba color = true_color(src, depth, one_bit_alpha);
                std::copy(color.begin(), color.end(), dst);
                return true;
            }
            default:
                std::copy(src, src + channels, dst);
                return true;
        }
    };

    std::span<const std::uint8_t> stored;
    if (!rle) {
        stored = reader.take(std::uint64_t{pixel_count} * pixel_size);
        if (!reader.ok()) return std::nullopt;
    }
    // A packet holds at most 128 pixels: refuse data too short for the size.
    if (rle && reader.remaining() / (1 + pixel_size) < (pixel_count + 127) / 128) return std::nullopt;
    auto image = allocate_image(width, height, layout, 8);
    if (!image || pixel_count == 0) return image;
    Placement placement(image->samples8.data(), width, height, channels, (descriptor & 0x10) != 0,
                        (descriptor & 0x20) != 0);

    if (!rle) {
        for (std::size_t p = 0; p < pixel_count; ++p) {
            if (!convert(stored.data() + p * pixel_size, placement.next())) return std::nullopt;
        }
        return image;
    }
    std::size_t done = 0;
    while (done < pixel_count) {
        const std::uint8_t packet = reader.u8();
        const std::size_t count = (packet & 0x7Fu) + 1;
        if (!reader.ok() || count > pixel_count - done) return std::nullopt;
        if (packet & 0x80) {  // one pixel repeated
            const auto value = reader.take(pixel_size);
            if (!reader.ok()) return std::nullopt;
            std::array<std::uint8_t, 4> converted{};
            if (!convert(value.data(), converted.data())) return std::nullopt;
            for (std::size_t i = 0; i < count; ++i) std::copy_n(converted.begin(), channels, placement.next());
        } else {  // literal pixels
            const auto values = reader.take(count * pixel_size);
            if (!reader.ok()) return std::nullopt;
            for (std::size_t i = 0; i < count; ++i) {
                if (!convert(values.data() + i * pixel_size, placement.next())) return std::nullopt;
            }
        }
        done += count;
    }
    return image;
}

}  // namespace

DecodeResult decode_tga(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_tga_checked(data); });
}

}  // namespace pixmorf
