// Feeds arbitrary bytes to the image decoders. The first byte picks the
// format name passed along (or none, so the signature decides); the rest is
// the encoded picture.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <variant>

#include "converter/decode/image_input.hpp"

namespace {

constexpr std::string_view FORMAT_NAMES[] = {
    "png", "jpg", "gif", "webp", "tif", "pbm", "tga", "dds", "bmp", "ico", "hdr", "ff", "avif",
};
constexpr std::size_t NAME_COUNT = sizeof(FORMAT_NAMES) / sizeof(FORMAT_NAMES[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t choice = data[0] % (NAME_COUNT + 1);
    std::optional<std::string_view> name;
    if (choice < NAME_COUNT) name = FORMAT_NAMES[choice];
    const auto result = pixmorf::decode_image_bytes(std::span(data + 1, size - 1), name);
    if (const auto* raster = std::get_if<glyph::RgbaRaster>(&result)) {
        // The raster must hold exactly its pixels.
        if (raster->pixels.size() != raster->width * raster->height * 4) __builtin_trap();
    }
    return 0;
}
