// farbfeld: "farbfeld", 32-bit big-endian width and height, then per pixel
// four 16-bit big-endian samples red, green, blue, alpha, rows top first.
// Bytes after the pixels are ignored.
#include <cstring>

#include "byte_reader.hpp"

namespace pixmorf {

namespace {

using decode_support::allocate_image;
using decode_support::ByteReader;

DecodeResult decode_farbfeld_checked(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    const auto magic = reader.take(8);
    const std::uint32_t width = reader.be32();
    const std::uint32_t height = reader.be32();
    if (!reader.ok() || std::memcmp(magic.data(), "farbfeld", 8) != 0) return std::nullopt;
    if (!within_decode_limit(width, height)) return std::nullopt;
    const std::uint64_t sample_count = std::uint64_t{width} * height * 4;
    const auto bytes = reader.take(sample_count * 2);
    if (!reader.ok()) return std::nullopt;
    auto image = allocate_image(width, height, PixelLayout::Rgba, 16);
    if (!image) return image;
    for (std::size_t i = 0; i < image->samples16.size(); ++i) {
        image->samples16[i] = decode_support::load_be16(bytes.data() + 2 * i);
    }
    return image;
}

}  // namespace

DecodeResult decode_farbfeld(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_farbfeld_checked(data); });
}

}  // namespace pixmorf
