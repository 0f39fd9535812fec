// Image files in the formats decoded by the project's own decoders are chosen
// by their extension; a TGA file is read only when its name says TGA.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "converter/decode/image_input.hpp"

namespace {

using namespace std::string_literals;

std::string le16(unsigned value) { return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; }
std::string le32(unsigned value) { return le16(value & 0xFFFF) + le16(value >> 16); }
std::string zeros(std::size_t count) { return std::string(count, '\0'); }

// A 40-byte bitmap info header without compression or palette.
std::string info_header(unsigned width, unsigned height, unsigned bits) {
    return le32(40) + le32(width) + le32(height) + le16(1) + le16(bits) + zeros(24);
}

const std::string BMP_1X1 = "BM" + le32(58) + le32(0) + le32(54) + info_header(1, 1, 24) + "\x01\x02\x03"s + zeros(1);
const std::string ICO_1X1 = le16(0) + le16(1) + le16(1) + "\x01\x01"s + zeros(2) + le16(1) + le16(32) + le32(44) +
                            le32(22) + info_header(1, 2, 32) + "\x01\x02\x03\x04"s;
const std::string TGA_1X1 = "\0\0\x02"s + zeros(9) + le16(1) + le16(1) + "\x18"s + zeros(1) + "\x01\x02\x03"s;
const std::string DDS_1X1 = "DDS "s + le32(124) + le32(0x1007) + le32(1) + le32(1) + zeros(56) + le32(32) +
                            le32(0x20000) + zeros(4) + le32(8) + le32(0xFF) + zeros(32) + "\x42"s;
const std::string HDR_1X1 = "#?RADIANCE\n\n-Y 1 +X 1\n\x80\x40\0\x81"s;
const std::string PGM_1X1 = "P5 1 1 255\n\x42"s;
const std::string FARBFELD_1X1 = "farbfeld"s + zeros(3) + "\x01"s + zeros(3) + "\x01\x01\0\x02\0\x03\0\x04\0"s;

struct NamedFile {
    const char* name;
    const std::string& bytes;
    std::array<std::uint8_t, 4> first_pixel;
};

const NamedFile NAMED_FILES[] = {
    {"picture.bmp", BMP_1X1, {3, 2, 1, 255}},
    {"picture.ico", ICO_1X1, {3, 2, 1, 4}},
    {"picture.tga", TGA_1X1, {3, 2, 1, 255}},
    {"picture.TGA", TGA_1X1, {3, 2, 1, 255}},
    {"picture.dds", DDS_1X1, {0x42, 0x42, 0x42, 255}},
    {"picture.hdr", HDR_1X1, {255, 128, 0, 255}},
    {"picture.pbm", PGM_1X1, {0x42, 0x42, 0x42, 255}},
    {"picture.pgm", PGM_1X1, {0x42, 0x42, 0x42, 255}},
    {"picture.ppm", PGM_1X1, {0x42, 0x42, 0x42, 255}},
    {"picture.pam", PGM_1X1, {0x42, 0x42, 0x42, 255}},
    {"picture.ff", FARBFELD_1X1, {1, 2, 3, 4}},
    {"picture.farbfeld", FARBFELD_1X1, {1, 2, 3, 4}},
};

class OwnFormatFiles : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = std::filesystem::temp_directory_path() /
                     ("pixmorf_decode_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string write(const char* name, const std::string& bytes) const {
        const auto path = directory_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    std::filesystem::path directory_;
};

TEST_F(OwnFormatFiles, ChosenByExtension) {
    for (const auto& file : NAMED_FILES) {
        SCOPED_TRACE(file.name);
        const auto raster = pixmorf::decode_image_file(write(file.name, file.bytes));
        ASSERT_TRUE(raster.has_value());
        EXPECT_EQ(raster->width, 1u);
        EXPECT_EQ(raster->height, 1u);
        EXPECT_EQ(raster->pixels, std::vector<std::uint8_t>(file.first_pixel.begin(), file.first_pixel.end()));
    }
}

TEST_F(OwnFormatFiles, ContentDoesNotChooseTheFormat) {
    EXPECT_FALSE(pixmorf::decode_image_file(write("picture.bin", TGA_1X1)).has_value());
    EXPECT_FALSE(pixmorf::decode_image_file(write("picture.bmp", TGA_1X1)).has_value());
    EXPECT_FALSE(pixmorf::decode_image_file(write("picture.tga", BMP_1X1)).has_value());
}

}  // namespace
