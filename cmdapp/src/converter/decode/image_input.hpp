#pragma once
// Choosing the format of an encoded picture and decoding it to 8-bit RGBA.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "../../../../glyphfoundry/src/image/format/bit_raster.hpp"
#include "../../../../glyphfoundry/src/image/format/rgba_raster.hpp"

namespace pixmorf {

enum class InputFormat : std::uint8_t { Png, Jpeg, Gif, WebP, Pnm, Tiff, Tga, Dds, Bmp, Ico, Hdr, Farbfeld, Avif };

std::optional<InputFormat> format_from_name(std::string_view name);
std::optional<InputFormat> format_from_signature(std::span<const std::uint8_t> data);

inline constexpr std::string_view DECODE_FAILED = "Failed to decode img_bytes. ";
inline constexpr std::string_view UNRECOGNIZED_FORMAT = "Unrecognized image format. ";

// The format `format_name` names, or else the one the data's first bytes
// show; nothing when neither is known.
std::optional<InputFormat> choose_format(std::span<const std::uint8_t> data,
                                         std::optional<std::string_view> format_name);

// The picture `data` holds in that format, or nothing.
std::optional<glyph::RgbaRaster> decode_picture(InputFormat format, std::span<const std::uint8_t> data);

// Red values below this count as dark in binary mode.
inline constexpr std::uint8_t DARK_BELOW = 128;

// The dark pixels (red below DARK_BELOW) of the picture `data` holds in that
// format, exactly those of decode_picture()'s result, without making the
// RGBA picture; or nothing when decode_picture() gives nothing.
std::optional<glyph::BitRaster> decode_dark_pixels(InputFormat format, std::span<const std::uint8_t> data);

// A picture, or one of the two failure texts above.
std::variant<glyph::RgbaRaster, std::string> decode_image_bytes(std::span<const std::uint8_t> data,
                                                                 std::optional<std::string_view> format_name);

struct EncodedFile {
    std::vector<std::uint8_t> bytes;
    InputFormat format;  // from the file name's extension
};
// The bytes of the file at `path`, or nothing when it cannot be read or its
// name has no known extension.
std::optional<EncodedFile> read_image_file(const std::string& path);

// A picture, or nothing (every failure looks the same to the caller).
std::optional<glyph::RgbaRaster> decode_image_file(const std::string& path);

}  // namespace pixmorf
