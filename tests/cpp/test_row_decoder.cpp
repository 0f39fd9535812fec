// The row-by-row decoder must accept exactly the files the whole-picture
// decoders accept, with the same pixels, and take on only the PNGs and JPEGs
// whose rows it can stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <span>
#include <variant>
#include <vector>

#include "converter/convert_encoded.hpp"
#include "encode_for_tests.hpp"
#include "converter/convert_file.hpp"
#include "converter/decode/image_input.hpp"
#include "converter/decode/row_decoder.hpp"

using pixmorf::InputFormat;
using pixmorf::RowDecoder;
using pixmorf::StreamSize;
using test_pictures::encode_jpeg;
using test_pictures::encode_png;

namespace {

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

// Decodes `file` both ways and requires the same verdict and pixels.
void expect_agreement(InputFormat format, std::span<const std::uint8_t> file, const std::string& label) {
    const std::optional<StreamSize> size = RowDecoder::streamable_size(format, file);
    if (!size) return;  // left to the whole-picture decoder
    const std::optional<glyph::RgbaRaster> whole = pixmorf::decode_picture(format, file);
    RowDecoder rows(format, file, *size);
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

// Every cut of `file` and every byte of it damaged in turn, and bytes added.
void expect_agreement_on_damage(InputFormat format, const std::vector<std::uint8_t>& file, const std::string& label) {
    ASSERT_TRUE(RowDecoder::streamable_size(format, file)) << label;
    expect_agreement(format, file, label + " whole file");
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        expect_agreement(format, std::span(file).first(cut), label + " cut at " + std::to_string(cut));
    }
    std::vector<std::uint8_t> damaged = file;
    for (std::size_t at = 0; at < file.size(); ++at) {
        damaged[at] ^= 0x5a;
        expect_agreement(format, damaged, label + " byte " + std::to_string(at) + " damaged");
        damaged[at] = file[at];
    }
    std::vector<std::uint8_t> trailing = file;
    trailing.insert(trailing.end(), {1, 2, 3});
    expect_agreement(format, trailing, label + " with trailing bytes");
}

}  // namespace

TEST(RowDecoder, TakesOnlyOpaqueColourPicturesInRowOrder) {
    const std::vector<std::uint8_t> rgb = random_samples(6 * 5 * 3, 1);
    const std::vector<std::uint8_t> rgba = random_samples(6 * 5 * 4, 2);
    const std::vector<std::uint8_t> grey = random_samples(6 * 5, 3);
    const struct {
        InputFormat format;
        std::vector<std::uint8_t> file;
        bool streamable;
    } cases[] = {
        {InputFormat::Png, encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 0, rgb), true},
        {InputFormat::Png, encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 1, rgb), false},
        {InputFormat::Png, encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 0, rgb, true), false},
        {InputFormat::Png, encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, rgba), false},
        {InputFormat::Png, encode_png(6, 5, SPNG_COLOR_TYPE_GRAYSCALE, 0, grey), false},
        {InputFormat::Png, {0x89, 'P', 'N', 'G'}, false},
        {InputFormat::Jpeg, encode_jpeg(6, 5, 3, rgb), true},
        {InputFormat::Jpeg, encode_jpeg(6, 5, 3, rgb, true), true},
        {InputFormat::Jpeg, encode_jpeg(6, 5, 1, grey), false},
        {InputFormat::Jpeg, {0xff, 0xd8, 0xff}, false},
        // The row decoder never takes other formats, nor a file read as another format.
        {InputFormat::Jpeg, encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 0, rgb), false},
        {InputFormat::Gif, encode_png(6, 5, SPNG_COLOR_TYPE_TRUECOLOR, 0, rgb), false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(RowDecoder::streamable_size(cases[i].format, cases[i].file).has_value(), cases[i].streamable)
            << "case " << i;
    }
}

TEST(RowDecoder, AgreesWithTheWholePictureDecoderOnEveryCutAndDamagedByte) {
    const struct {
        std::uint32_t width, height;
    } sizes[] = {{1, 1}, {37, 23}, {3, 200}, {260, 2}};
    unsigned seed = 10;
    for (const auto& [width, height] : sizes) {
        const std::vector<std::uint8_t> samples = random_samples(std::size_t{width} * height * 3, ++seed);
        const std::string label = std::to_string(width) + "x" + std::to_string(height);
        expect_agreement_on_damage(InputFormat::Png, encode_png(width, height, SPNG_COLOR_TYPE_TRUECOLOR, 0, samples),
                                   "png " + label);
        expect_agreement_on_damage(InputFormat::Jpeg, encode_jpeg(width, height, 3, samples), "jpeg " + label);
        expect_agreement_on_damage(InputFormat::Jpeg, encode_jpeg(width, height, 3, samples, true),
                                   "progressive jpeg " + label);
    }
}

TEST(RowDecoder, StopsEarlyWhenLetGo) {
    // A decoder dropped before its rows were asked for stops and joins.
    const std::vector<std::uint8_t> samples = random_samples(400 * 400 * 3, 7);
    const std::vector<std::uint8_t> png = encode_png(400, 400, SPNG_COLOR_TYPE_TRUECOLOR, 0, samples);
    const std::vector<std::uint8_t> jpeg = encode_jpeg(400, 400, 3, samples);
    for (int i = 0; i < 10; ++i) {
        const RowDecoder from_png(InputFormat::Png, png, {400, 400});
        const RowDecoder from_jpeg(InputFormat::Jpeg, jpeg, {400, 400});
        EXPECT_EQ(from_png.width(), 400u);
        EXPECT_EQ(from_jpeg.height(), 400u);
    }
}

TEST(DecodeAndConvert, PictureDecodedMeanwhileGivesTheDocumentOfItsPixels) {
    // Large enough for the stacked conversion that starts on the first rows.
    std::vector<std::uint8_t> samples = random_samples(300 * 280 * 3, 21);
    for (std::size_t i = 0; i < samples.size() / 2; ++i) samples[i] = static_cast<std::uint8_t>(i / 3000 * 40);
    pixmorf::Settings settings;
    settings.path_mode = glyph::PathMode::Polygon;
    const struct {
        InputFormat format;
        std::vector<std::uint8_t> file;
    } cases[] = {
        {InputFormat::Png, encode_png(300, 280, SPNG_COLOR_TYPE_TRUECOLOR, 0, samples)},
        {InputFormat::Jpeg, encode_jpeg(300, 280, 3, samples)},
    };
    for (const auto& [format, file] : cases) {
        ASSERT_TRUE(RowDecoder::streamable_size(format, file));
        const std::optional<glyph::RgbaRaster> pixels = pixmorf::decode_picture(format, file);
        ASSERT_TRUE(pixels);
        const pixmorf::ConvertOutcome expected = pixmorf::convert_picture(*pixels, settings);
        const std::optional<pixmorf::ConvertOutcome> meanwhile = pixmorf::decode_and_convert(file, format, settings);
        ASSERT_TRUE(meanwhile);
        ASSERT_TRUE(std::holds_alternative<pixmorf::SvgDocument>(*meanwhile));
        EXPECT_EQ(pixmorf::render_svg_to_string(std::get<pixmorf::SvgDocument>(*meanwhile)),
                  pixmorf::render_svg_to_string(std::get<pixmorf::SvgDocument>(expected)));

        // Cut in the pixel data: nothing, whatever the first rows gave.
        const std::vector<std::uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 3 / 4));
        EXPECT_FALSE(pixmorf::decode_and_convert(cut, format, settings));
    }
}
