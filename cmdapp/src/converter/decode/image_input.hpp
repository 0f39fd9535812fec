#pragma once
// Choosing the format of an encoded picture and decoding it to 8-bit RGBA.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "../../../../glyphfoundry/src/image/format/rgba_raster.hpp"

namespace pixmorf {

enum class InputFormat : std::uint8_t { Png, Jpeg, Gif, WebP, Pnm, Tiff, Tga, Dds, Bmp, Ico, Hdr, Farbfeld, Avif };

std::optional<InputFormat> format_from_name(std::string_view name);
std::optional<InputFormat> format_from_signature(std::span<const std::uint8_t> data);

inline constexpr std::string_view DECODE_FAILED = "Failed to decode img_bytes. ";
inline constexpr std::string_view UNRECOGNIZED_FORMAT = "Unrecognized image format. ";

// A picture, or one of the two failure texts above.
std::variant<glyph::RgbaRaster, std::string> decode_image_bytes(std::span<const std::uint8_t> data,
                                                                 std::optional<std::string_view> format_name);

// A picture, or nothing (every failure looks the same to the caller).
std::optional<glyph::RgbaRaster> decode_image_file(const std::string& path);

}  // namespace pixmorf
