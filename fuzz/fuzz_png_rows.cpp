// Arbitrary bytes as a PNG: when the row-by-row decoder takes the file on,
// it must agree with the whole-picture decoder on success and on every pixel.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "converter/decode/image_input.hpp"
#include "converter/decode/png_rows.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> png(data, size);
    const auto streamable = pixmorf::PngRowDecoder::streamable_size(png);
    if (!streamable) return 0;
    const std::optional<glyph::RgbaRaster> whole = pixmorf::decode_picture(pixmorf::InputFormat::Png, png);
    pixmorf::PngRowDecoder rows(png);
    glyph::RgbaRaster streamed = glyph::RgbaRaster::create(streamable->width, streamable->height);
    const std::uint64_t total = std::uint64_t{streamable->width} * streamable->height;
    // Half first, then the rest, as a conversion asks for them.
    bool ok = rows.copy_pixels(streamed.pixels, total / 2) && rows.copy_pixels(streamed.pixels, total);
    ok = rows.succeeded() && ok;
    if (ok != whole.has_value()) std::abort();
    if (ok && streamed.pixels != whole->pixels) std::abort();
    return 0;
}
