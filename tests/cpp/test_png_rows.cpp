// The row-by-row PNG decoder must accept exactly the files the whole-picture
// decoder accepts, with the same pixels, and take on only the PNGs whose
// rows it can stream.
#include <gtest/gtest.h>
#include <spng.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <variant>
#include <vector>

#include "converter/convert_encoded.hpp"
#include "converter/convert_file.hpp"
#include "converter/decode/image_input.hpp"
#include "converter/decode/png_rows.hpp"

using pixmorf::InputFormat;
using pixmorf::PngRowDecoder;

namespace {

struct EncoderFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

// A PNG of the given header, encoded by libspng from `samples` (in the
// header's own layout), optionally with a tRNS chunk.
std::vector<std::uint8_t> encode_png(std::uint32_t width, std::uint32_t height, std::uint8_t color_type,
                                     std::uint8_t interlace, const std::vector<std::uint8_t>& samples,
                                     bool with_trns = false) {
    const std::unique_ptr<spng_ctx, EncoderFree> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = color_type;
    ihdr.interlace_method = interlace;
    spng_set_ihdr(ctx.get(), &ihdr);
    if (with_trns) {
        spng_trns trns{};
        trns.red = samples[0];
        trns.green = samples[1];
        trns.blue = samples[2];
        spng_set_trns(ctx.get(), &trns);
    }
    const int status = spng_encode_image(ctx.get(), samples.data(), samples.size(), SPNG_FMT_PNG,
                                         SPNG_ENCODE_FINALIZE);
    EXPECT_EQ(status, 0) << spng_strerror(status);
    std::size_t size = 0;
    int error = 0;
    std::uint8_t* buffer = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx.get(), &size, &error));
    EXPECT_EQ(error, 0);
    std::vector<std::uint8_t> png(buffer, buffer + size);
    std::free(buffer);
    return png;
}

std::vector<std::uint8_t> random_samples(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> samples(count);
    // Runs of equal bytes as well as noise, so that the file has both
    // compressible and incompressible stretches.
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = (random() % 4 == 0 || i == 0) ? static_cast<std::uint8_t>(random()) : samples[i - 1];
    }
    return samples;
}

// Decodes `png` both ways and requires the same verdict and pixels.
void expect_agreement(std::span<const std::uint8_t> png, const std::string& label) {
    const std::optional<PngRowDecoder::Size> size = PngRowDecoder::streamable_size(png);
    if (!size) return;  // left to the whole-picture decoder
    const std::optional<glyph::RgbaRaster> whole = pixmorf::decode_picture(InputFormat::Png, png);
    PngRowDecoder rows(png);
    glyph::RgbaRaster streamed = glyph::RgbaRaster::create(size->width, size->height);
    // In a few pieces, as a conversion asks for them.
    bool ok = true;
    const std::uint64_t total = std::uint64_t{size->width} * size->height;
    for (std::uint64_t count = 1; ok && count < total; count = count * 3 + 1) ok = rows.copy_pixels(streamed.pixels, count);
    ok = ok && rows.copy_pixels(streamed.pixels, total);
    ok = rows.succeeded() && ok;
    ASSERT_EQ(ok, whole.has_value()) << label;
    if (ok) {
        EXPECT_EQ(streamed.width, whole->width) << label;
        EXPECT_EQ(streamed.height, whole->height) << label;
        EXPECT_EQ(streamed.pixels, whole->pixels) << label;
    }
}

}  // namespace

TEST(PngRowDecoder, TakesOnlyOpaqueTruecolourInRowOrder) {
    const std::vector<std::uint8_t> rgb = random_samples(6 * 5 * 3, 1);
    const std::vector<std::uint8_t> rgba = random_samples(6 * 5 * 4, 2);
    const std::vector<std::uint8_t> grey = random_samples(6 * 5, 3);
    EXPECT_TRUE(PngRowDecoder::streamable_size(encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 0, rgb)));
    EXPECT_FALSE(PngRowDecoder::streamable_size(encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 1, rgb)));
    EXPECT_FALSE(PngRowDecoder::streamable_size(encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 0, rgb, true)));
    EXPECT_FALSE(PngRowDecoder::streamable_size(encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, rgba)));
    EXPECT_FALSE(PngRowDecoder::streamable_size(encode_png(6, 5, SPNG_COLOR_TYPE_GRAYSCALE, 0, grey)));
    EXPECT_FALSE(PngRowDecoder::streamable_size(std::vector<std::uint8_t>{0x89, 'P', 'N', 'G'}));
}

TEST(PngRowDecoder, AgreesWithTheWholePictureDecoderOnEveryCutAndDamagedByte) {
    const struct {
        std::uint32_t width, height;
    } sizes[] = {{1, 1}, {37, 23}, {3, 200}, {260, 2}};
    unsigned seed = 10;
    for (const auto& [width, height] : sizes) {
        const std::vector<std::uint8_t> png =
            encode_png(width, height, SPNG_COLOR_TYPE_TRUECOLOR, 0, random_samples(std::size_t{width} * height * 3, ++seed));
        ASSERT_TRUE(PngRowDecoder::streamable_size(png));
        const std::string label = std::to_string(width) + "x" + std::to_string(height);
        expect_agreement(png, label + " whole file");
        for (std::size_t cut = 0; cut < png.size(); ++cut) {
            expect_agreement(std::span(png).first(cut), label + " cut at " + std::to_string(cut));
        }
        std::vector<std::uint8_t> damaged = png;
        for (std::size_t at = 0; at < png.size(); ++at) {
            damaged[at] ^= 0x5a;
            expect_agreement(damaged, label + " byte " + std::to_string(at) + " damaged");
            damaged[at] = png[at];
        }
        // Bytes after the end chunk.
        std::vector<std::uint8_t> trailing = png;
        trailing.insert(trailing.end(), {1, 2, 3});
        expect_agreement(trailing, label + " with trailing bytes");
    }
}

TEST(PngRowDecoder, StopsEarlyWhenLetGo) {
    // A decoder dropped before its rows were asked for stops and joins.
    const std::vector<std::uint8_t> png =
        encode_png(400, 400, SPNG_COLOR_TYPE_TRUECOLOR, 0, random_samples(400 * 400 * 3, 7));
    for (int i = 0; i < 20; ++i) {
        PngRowDecoder rows(png);
        EXPECT_EQ(rows.width(), 400u);
    }
}

TEST(DecodeAndConvert, PngDecodedMeanwhileGivesTheDocumentOfItsPixels) {
    // Large enough for the stacked conversion that starts on the first rows.
    std::vector<std::uint8_t> samples = random_samples(300 * 280 * 3, 21);
    for (std::size_t i = 0; i < samples.size() / 2; ++i) samples[i] = static_cast<std::uint8_t>(i / 3000 * 40);
    const std::vector<std::uint8_t> png = encode_png(300, 280, SPNG_COLOR_TYPE_TRUECOLOR, 0, samples);
    pixmorf::Settings settings;
    settings.path_mode = glyph::PathMode::Polygon;
    const std::optional<glyph::RgbaRaster> pixels = pixmorf::decode_picture(InputFormat::Png, png);
    ASSERT_TRUE(pixels);
    const pixmorf::ConvertOutcome expected = pixmorf::convert_picture(*pixels, settings);
    const std::optional<pixmorf::ConvertOutcome> meanwhile = pixmorf::decode_and_convert(png, InputFormat::Png, settings);
    ASSERT_TRUE(meanwhile);
    ASSERT_TRUE(std::holds_alternative<pixmorf::SvgDocument>(*meanwhile));
    EXPECT_EQ(pixmorf::render_svg_to_string(std::get<pixmorf::SvgDocument>(*meanwhile)),
              pixmorf::render_svg_to_string(std::get<pixmorf::SvgDocument>(expected)));

    // Cut in the pixel data: nothing, whatever the first rows gave.
    const std::vector<std::uint8_t> cut(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() * 3 / 4));
    EXPECT_FALSE(pixmorf::decode_and_convert(cut, InputFormat::Png, settings));
}
