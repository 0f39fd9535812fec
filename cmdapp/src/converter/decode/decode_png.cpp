// PNG through libspng: every colour type and bit depth, palettes with tRNS,
// Adam7 interlacing. 16-bit files stay 16 bits; everything else becomes 8-bit RGBA.
#include <spng.h>

#include <memory>
#include <optional>

#include "decoded_image.hpp"
#include "row_streams.hpp"
#include "without_throwing.hpp"

namespace pixmorf {

namespace {

struct SpngContextFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngContextFree>;

// Ancillary chunks (text, ICC profiles, EXIF...) are kept in memory by the
// library while reading; pictures never need large ones.
constexpr std::size_t MAX_CHUNK_BYTES = 16u << 20;
constexpr std::size_t MAX_CHUNK_CACHE_BYTES = 64u << 20;

// A context reading `data`, or nothing.
SpngContext open_png(std::span<const std::uint8_t> data) {
    SpngContext ctx(spng_ctx_new(0));
    if (!ctx) return ctx;
    if (spng_set_chunk_limits(ctx.get(), MAX_CHUNK_BYTES, MAX_CHUNK_CACHE_BYTES) != 0) return nullptr;
    if (spng_set_png_buffer(ctx.get(), data.data(), data.size()) != 0) return nullptr;
    return ctx;
}

// The size of the PNG `ctx` reads when its rows can be streamed.
std::optional<StreamSize> streamable_size(spng_ctx* ctx) {
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) return std::nullopt;
    if (ihdr.color_type != SPNG_COLOR_TYPE_TRUECOLOR || ihdr.bit_depth != 8 || ihdr.interlace_method != 0) {
        return std::nullopt;
    }
    if (!within_decode_limit(ihdr.width, ihdr.height)) return std::nullopt;
    spng_trns trns{};
    if (spng_get_trns(ctx, &trns) != SPNG_ECHUNKAVAIL) return std::nullopt;
    std::size_t byte_count = 0;
    if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &byte_count) != 0) return std::nullopt;
    if (byte_count != std::size_t{ihdr.width} * ihdr.height * 4) return std::nullopt;
    return StreamSize{ihdr.width, ihdr.height};
}

DecodeResult decode_png_unchecked(std::span<const std::uint8_t> data) {
    const SpngContext ctx = open_png(data);
    if (!ctx) return std::nullopt;

    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    if (!within_decode_limit(ihdr.width, ihdr.height)) return std::nullopt;

    // 16-bit files are read as 16-bit RGBA, everything else as 8-bit RGBA,
    // except plain grey (1 to 8 bits, no transparent key), read as 8-bit
    // grey: a quarter of the memory, and much faster for bilevel scans.
    // tRNS (palette alpha or a transparent grey/RGB key) becomes real alpha.
    // Gamma is left as stored.
    const bool wide = ihdr.bit_depth == 16;
    spng_trns trns{};
    const bool plain_grey = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && !wide &&
                            spng_get_trns(ctx.get(), &trns) == SPNG_ECHUNKAVAIL;
    const int format = plain_grey ? SPNG_FMT_G8 : wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    const std::size_t channels = plain_grey ? 1 : 4;
    const std::size_t sample_count = std::size_t{ihdr.width} * ihdr.height * channels;
    std::size_t byte_count = 0;
    if (spng_decoded_image_size(ctx.get(), format, &byte_count) != 0) return std::nullopt;
    if (byte_count != sample_count * (wide ? 2 : 1)) return std::nullopt;

    DecodedImage image;
    image.width = ihdr.width;
    image.height = ihdr.height;
    image.layout = plain_grey ? PixelLayout::Grey : PixelLayout::Rgba;
    image.bits_per_channel = wide ? 16 : 8;
    void* out = nullptr;
    if (wide) {
        image.samples16.resize(sample_count);
        out = image.samples16.data();
    } else {
        image.samples8.resize(sample_count);
        out = image.samples8.data();
    }
    const int status = spng_decode_image(ctx.get(), out, byte_count, format, SPNG_DECODE_TRNS);
    if (status != 0) return std::nullopt;
    return image;
}

}  // namespace

DecodeResult decode_png(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_png_unchecked(data); });
}

std::optional<StreamSize> png_stream_size(std::span<const std::uint8_t> data) {
    const SpngContext ctx = open_png(data);
    if (!ctx) return std::nullopt;
    return streamable_size(ctx.get());
}

bool decode_png_rows(std::span<const std::uint8_t> data, std::span<std::uint8_t> rgba, const RowProgress& progress) {
    const SpngContext ctx = open_png(data);
    if (!ctx) return false;
    const std::optional<StreamSize> size = streamable_size(ctx.get());
    if (!size || size->width == 0 || rgba.size() / 4 / size->width < size->height) return false;
    // The same decoding as the whole picture's, a row at a time.
    if (spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0) {
        return false;
    }
    const std::size_t row_bytes = size->width * 4;
    for (std::size_t y = 0; y < size->height; ++y) {
        // The last row answers "end of image"; any other answer than success
        // before it is a failure.
        const int status = spng_decode_row(ctx.get(), rgba.data() + y * row_bytes, row_bytes);
        const bool last = y + 1 == size->height;
        if (status != (last ? static_cast<int>(SPNG_EOI) : 0)) return false;
        if (!progress(y + 1)) return false;
    }
    return true;
}

}  // namespace pixmorf
