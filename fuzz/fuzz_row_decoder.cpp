// Arbitrary bytes as a PNG (first byte even) or a JPEG (odd): when the
// row-by-row decoder takes the file on, it must agree with the whole-picture
// decoder on success and on every pixel.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>

#include "converter/decode/image_input.hpp"
#include "converter/decode/row_decoder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const pixmorf::InputFormat format = data[0] % 2 == 0 ? pixmorf::InputFormat::Png : pixmorf::InputFormat::Jpeg;
    const std::span<const std::uint8_t> file(data + 1, size - 1);
    const auto streamable = pixmorf::RowDecoder::streamable_size(format, file);
    if (!streamable) return 0;
    const std::optional<glyph::RgbaRaster> whole = pixmorf::decode_picture(format, file);
    pixmorf::RowDecoder rows(format, file, *streamable);
    glyph::RgbaRaster streamed = glyph::RgbaRaster::create(streamable->width, streamable->height);
    const std::uint64_t total = std::uint64_t{streamable->width} * streamable->height;
    // Half first, then the rest, as a conversion asks for them.
    bool ok = rows.copy_pixels(streamed.pixels, total / 2) && rows.copy_pixels(streamed.pixels, total);
    ok = rows.succeeded() && ok;
    if (ok != whole.has_value()) std::abort();
    if (ok && streamed.pixels != whole->pixels) std::abort();
    return 0;
}
