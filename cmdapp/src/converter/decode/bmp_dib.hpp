#pragma once
// The device-independent bitmap reader shared by the BMP and ICO decoders.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "decoded_image.hpp"

namespace pixmorf {

enum class DibKind : std::uint8_t {
    // A BMP file: the pixels start at the offset of its file header.
    File,
    // An icon image: the pixels follow the palette, the header height counts
    // the colour rows and the AND-mask rows, and the AND mask follows the
    // colour rows (as far as `data` holds it: missing mask bits are clear).
    Icon,
};

// Decodes the bitmap whose info header starts at `header_offset` of `data`.
// `pixel_offset` is used for DibKind::File only. The result is 8-bit RGBA.
DecodeResult decode_dib(std::span<const std::uint8_t> data, std::size_t header_offset,
                        std::uint64_t pixel_offset, DibKind kind);

}  // namespace pixmorf
