#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "converter/decode/image_input.hpp"
#include "encode_for_tests.hpp"

using pixmorf::InputFormat;

namespace {

std::vector<std::uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

// A 2 x 2 PNG, every pixel (255, 0, 0, 128).
const std::vector<std::uint8_t> TINY_PNG = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02, 0x08, 0x06, 0x00, 0x00, 0x00, 0x72, 0xb6, 0x0d,
    0x24, 0x00, 0x00, 0x00, 0x14, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0xfc, 0xcf, 0xc0, 0xd0,
    0xc0, 0xc0, 0xc0, 0xc0, 0xc0, 0xc4, 0x00, 0x05, 0x00, 0x18, 0x25, 0x01, 0x83, 0x46, 0x88, 0x95,
    0x27, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

}  // namespace

TEST(FormatFromName, EveryNameInAnyAsciiCase) {
    const struct {
        std::string_view name;
        InputFormat format;
    } cases[] = {
        {"png", InputFormat::Png},        {"PNG", InputFormat::Png},       {"Png", InputFormat::Png},
        {"jpg", InputFormat::Jpeg},       {"jpeg", InputFormat::Jpeg},     {"JPEG", InputFormat::Jpeg},
        {"gif", InputFormat::Gif},        {"webp", InputFormat::WebP},     {"WebP", InputFormat::WebP},
        {"pbm", InputFormat::Pnm},        {"pam", InputFormat::Pnm},       {"ppm", InputFormat::Pnm},
        {"pgm", InputFormat::Pnm},        {"tif", InputFormat::Tiff},      {"tiff", InputFormat::Tiff},
        {"tga", InputFormat::Tga},        {"dds", InputFormat::Dds},       {"bmp", InputFormat::Bmp},
        {"ico", InputFormat::Ico},        {"hdr", InputFormat::Hdr},       {"ff", InputFormat::Farbfeld},
        {"farbfeld", InputFormat::Farbfeld}, {"FF", InputFormat::Farbfeld}, {"avif", InputFormat::Avif},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pixmorf::format_from_name(c.name), c.format) << c.name;
    }
}

TEST(FormatFromName, NearMissesMatchNothing) {
    using namespace std::string_view_literals;
    const std::string_view misses[] = {
        ""sv, ".png"sv, "png "sv, " png"sv, "pngg"sv, "jp"sv, "svg"sv, "tiff2"sv, "image/png"sv,
        "p\0ng"sv, "png\0"sv,
        "\xc3\xa9png"sv,  // non-ASCII letters are not folded
        "\xffpng"sv,      // not valid UTF-8
        "P\xc4\xb0NG"sv,  // dotted capital I is no ASCII letter
    };
    for (std::string_view name : misses) {
        EXPECT_EQ(pixmorf::format_from_name(name), std::nullopt) << name;
    }
}

TEST(FormatFromSignature, LeadingBytesChooseTheFormat) {
    using namespace std::string_view_literals;
    const struct {
        std::string_view head;
        std::optional<InputFormat> format;
    } cases[] = {
        {"\x89PNG\r\n\x1a\n rest"sv, InputFormat::Png},
        {"\x89PNG\r\n\x1a"sv, std::nullopt},  // one byte short of the signature
        {"\xff\xd8\xff\xe0"sv, InputFormat::Jpeg},
        {"\xff\xd8"sv, std::nullopt},
        {"GIF89a"sv, InputFormat::Gif},
        {"GIF87a\x01\x00"sv, InputFormat::Gif},
        {"GIF88a"sv, std::nullopt},
        {"RIFF"sv, InputFormat::WebP},
        {"RIFF\x24\x00\x00\x00WAVEfmt "sv, InputFormat::WebP},  // only the four bytes count
        {"P1"sv, InputFormat::Pnm},
        {"P4\n1 1\n"sv, InputFormat::Pnm},
        {"P7"sv, InputFormat::Pnm},
        {"P8"sv, std::nullopt},
        {"P"sv, std::nullopt},
        {"MM\x00\x2a"sv, InputFormat::Tiff},
        {"II\x2a\x00\x08"sv, InputFormat::Tiff},
        {"II\x00\x2a"sv, std::nullopt},
        {"DDS |"sv, InputFormat::Dds},
        {"DDS"sv, std::nullopt},
        {"BM"sv, InputFormat::Bmp},
        {"B"sv, std::nullopt},
        {"\x00\x00\x01\x00\x01\x00"sv, InputFormat::Ico},
        {"#?RADIANCE\n"sv, InputFormat::Hdr},
        {"#?RGBE\n"sv, std::nullopt},
        {"farbfeld\x00\x00"sv, InputFormat::Farbfeld},
        {"\x00\x00\x00\x20" "ftypavif"sv, InputFormat::Avif},
        {"\x00\x00\x00\x20" "ftypheic"sv, std::nullopt},
        {"\x00\x00\x00\x1c" "ftypavif"sv, std::nullopt},
        {""sv, std::nullopt},
        {"\x00\x00\x01"sv, std::nullopt},
        {"<svg"sv, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(pixmorf::format_from_signature(bytes_of(c.head)), c.format) << testing::PrintToString(c.head);
    }
}

TEST(DecodeImageBytes, NameFirstThenSignature) {
    const auto decoded_ok = [](std::optional<std::string_view> name) {
        auto result = pixmorf::decode_image_bytes(TINY_PNG, name);
        const auto* raster = std::get_if<glyph::RgbaRaster>(&result);
        if (raster == nullptr) return false;
        EXPECT_EQ(raster->width, 2u);
        EXPECT_EQ(raster->height, 2u);
        EXPECT_EQ(raster->pixels, (std::vector<std::uint8_t>{255, 0, 0, 128, 255, 0, 0, 128, 255, 0, 0, 128,
                                                               255, 0, 0, 128}));
        return true;
    };
    EXPECT_TRUE(decoded_ok(std::nullopt));
    EXPECT_TRUE(decoded_ok("PNG"));
    EXPECT_TRUE(decoded_ok(".png"));  // matches no name: the signature decides
    EXPECT_TRUE(decoded_ok("svg"));
    EXPECT_FALSE(decoded_ok("jpg"));  // a matching name is trusted, content not inspected
    EXPECT_FALSE(decoded_ok("avif"));

    const auto failure_text = [](std::span<const std::uint8_t> data, std::optional<std::string_view> name) {
        auto result = pixmorf::decode_image_bytes(data, name);
        const auto* text = std::get_if<std::string>(&result);
        return text == nullptr ? std::string("decoded") : *text;
    };
    const std::string failed(pixmorf::DECODE_FAILED);
    EXPECT_EQ(failure_text({}, std::nullopt), failed);
    EXPECT_EQ(failure_text(std::span(TINY_PNG).first(1), std::nullopt), failed);
    EXPECT_EQ(failure_text(bytes_of(std::string_view("\x00\x00\x00\x20" "ftypavif\x00\x00\x00\x00", 16)),
                           std::nullopt),
              failed);
    EXPECT_EQ(failure_text(std::span(TINY_PNG).first(50), "png"), failed);
}

TEST(DecodeImageFile, FormatComesFromTheExtension) {
    const auto dir = std::filesystem::path(testing::TempDir()) / "pixmorf_image_input";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "folder.png");
    const auto write = [&](const std::string& name) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(TINY_PNG.data()), static_cast<std::streamsize>(TINY_PNG.size()));
        return (dir / name).string();
    };
    EXPECT_TRUE(pixmorf::decode_image_file(write("picture.png")).has_value());
    EXPECT_TRUE(pixmorf::decode_image_file(write("picture.PNG")).has_value());
    EXPECT_TRUE(pixmorf::decode_image_file(write("..png")).has_value());  // last '.' is not the first character
    EXPECT_FALSE(pixmorf::decode_image_file(write("picture")).has_value());
    EXPECT_FALSE(pixmorf::decode_image_file(write(".png")).has_value());
    EXPECT_FALSE(pixmorf::decode_image_file(write("picture.")).has_value());
    EXPECT_FALSE(pixmorf::decode_image_file(write("picture.jpg")).has_value());  // content not inspected
    EXPECT_FALSE(pixmorf::decode_image_file(write("picture.avif")).has_value());
    EXPECT_FALSE(pixmorf::decode_image_file(write("folder.png/picture")).has_value());
    EXPECT_FALSE(pixmorf::decode_image_file((dir / "missing.png").string()).has_value());
    std::filesystem::remove_all(dir);
}

TEST(DecodeDarkPixels, AreThoseOfTheRgbaPictureInEveryLayout) {
    std::mt19937 random(5);
    auto samples = [&](std::size_t count) {
        std::vector<std::uint8_t> out(count);
        for (std::uint8_t& s : out) s = static_cast<std::uint8_t>(random());
        return out;
    };
    const std::uint32_t w = 9;
    const std::uint32_t h = 7;
    std::string pbm = "P4\n9 7\n";
    for (std::uint8_t byte : samples(2 * h)) pbm.push_back(static_cast<char>(byte));
    std::string pgm = "P5\n9 7\n255\n";
    for (std::uint8_t byte : samples(w * h)) pgm.push_back(static_cast<char>(byte));
    using test_pictures::encode_jpeg;
    using test_pictures::encode_png;
    const struct {
        InputFormat format;
        std::vector<std::uint8_t> file;
    } cases[] = {
        {InputFormat::Png, encode_png(w, h, SPNG_COLOR_TYPE_GRAYSCALE, 0, samples(w * h))},
        {InputFormat::Png, encode_png(w, h, SPNG_COLOR_TYPE_GRAYSCALE, 0, samples(2 * h), false, 1)},
        {InputFormat::Png, encode_png(w, h, SPNG_COLOR_TYPE_GRAYSCALE_ALPHA, 0, samples(2 * w * h))},
        {InputFormat::Png, encode_png(w, h, SPNG_COLOR_TYPE_TRUECOLOR, 0, samples(3 * w * h))},
        {InputFormat::Png, encode_png(w, h, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, samples(4 * w * h))},
        {InputFormat::Png, encode_png(w, h, SPNG_COLOR_TYPE_TRUECOLOR, 0, samples(6 * w * h), false, 16)},
        {InputFormat::Pnm, bytes_of(pbm)},
        {InputFormat::Pnm, bytes_of(pgm)},
        {InputFormat::Jpeg, encode_jpeg(w, h, 1, samples(w * h))},
        {InputFormat::Jpeg, encode_jpeg(w, h, 3, samples(3 * w * h))},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& [format, file] = cases[i];
        // The whole file, and cut short (where both must fail alike).
        for (std::size_t size : {file.size(), file.size() - 1, file.size() / 2}) {
            const std::span<const std::uint8_t> data(file.data(), size);
            const std::optional<glyph::RgbaRaster> picture = pixmorf::decode_picture(format, data);
            const std::optional<glyph::BitRaster> dark = pixmorf::decode_dark_pixels(format, data);
            ASSERT_EQ(dark.has_value(), picture.has_value()) << "case " << i << " size " << size;
            if (size == file.size()) {
                ASSERT_TRUE(picture) << "case " << i;
            }
            if (!picture) continue;
            const glyph::BitRaster expected = picture->make_binary([](glyph::Color c) { return c.r < 128; });
            EXPECT_EQ(dark->width, expected.width) << "case " << i;
            EXPECT_EQ(dark->height, expected.height) << "case " << i;
            EXPECT_EQ(dark->words, expected.words) << "case " << i;
        }
    }
}
