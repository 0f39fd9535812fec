// PNG through libspng: every colour type and bit depth, palettes with tRNS,
// Adam7 interlacing. 16-bit files stay 16 bits; everything else becomes 8-bit RGBA.
#include <spng.h>

#include <memory>
#include <new>
#include <stdexcept>

#include "decoded_image.hpp"

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

DecodeResult decode_png_unchecked(std::span<const std::uint8_t> data) {
    SpngContext ctx(spng_ctx_new(0));
    if (!ctx) return std::nullopt;
    if (spng_set_chunk_limits(ctx.get(), MAX_CHUNK_BYTES, MAX_CHUNK_CACHE_BYTES) != 0) return std::nullopt;
    if (spng_set_png_buffer(ctx.get(), data.data(), data.size()) != 0) return std::nullopt;

    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx.get(), &ihdr) != 0) return std::nullopt;
    if (!within_decode_limit(ihdr.width, ihdr.height)) return std::nullopt;

    // tRNS (palette alpha or a transparent grey/RGB key) becomes real alpha,
    // so both outputs carry an alpha channel. Gamma is left as stored.
    const bool wide = ihdr.bit_depth == 16;
    const int format = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    std::size_t byte_count = 0;
    if (spng_decoded_image_size(ctx.get(), format, &byte_count) != 0) return std::nullopt;
    const std::size_t pixel_count = std::size_t{ihdr.width} * ihdr.height;
    const std::size_t bytes_per_pixel = wide ? 8 : 4;
    if (byte_count != pixel_count * bytes_per_pixel) return std::nullopt;

    DecodedImage image;
    image.width = ihdr.width;
    image.height = ihdr.height;
    image.layout = PixelLayout::Rgba;
    int status = 0;
    if (wide) {
        image.bits_per_channel = 16;
        image.samples16.resize(pixel_count * 4);
        status = spng_decode_image(ctx.get(), image.samples16.data(), byte_count, format, SPNG_DECODE_TRNS);
    } else {
        image.bits_per_channel = 8;
        image.samples8.resize(pixel_count * 4);
        status = spng_decode_image(ctx.get(), image.samples8.data(), byte_count, format, SPNG_DECODE_TRNS);
    }
    if (status != 0) return std::nullopt;
    return image;
}

}  // namespace

DecodeResult decode_png(std::span<const std::uint8_t> data) {
    try {
        return decode_png_unchecked(data);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

}  // namespace pixmorf
