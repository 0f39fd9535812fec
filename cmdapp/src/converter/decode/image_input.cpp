#include "image_input.hpp"

namespace pixmorf {

std::optional<InputFormat> format_from_name(std::string_view) { return std::nullopt; }
std::optional<InputFormat> format_from_signature(std::span<const std::uint8_t>) { return std::nullopt; }

std::variant<glyph::RgbaRaster, std::string> decode_image_bytes(std::span<const std::uint8_t>,
                                                                 std::optional<std::string_view>) {
    return std::string(DECODE_FAILED);
}

std::optional<glyph::RgbaRaster> decode_image_file(const std::string&) { return std::nullopt; }

}  // namespace pixmorf
