#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "converter/convert_file.hpp"
#include "failure.hpp"

using namespace pixmorf;
using glyph::PointF;
using glyph::PointI;

namespace {

const std::string OLD_CONTENT = "existing content\n";

class ConvertFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "pixmorf-convert-file-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        directory = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::string existing_file() const {
        const std::string path = (directory / "existing.svg").string();
        std::ofstream(path, std::ios::binary) << OLD_CONTENT;
        return path;
    }

    std::filesystem::path directory;
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

SvgDocument document_with(glyph::SubPath path, std::optional<std::uint32_t> precision) {
    SvgDocument document(4, 3, precision);
    glyph::CompoundPath compound;
    // A shape's first sub-path gives its origin, so an empty one goes second.
    const bool empty = std::visit([](const auto& p) { return p.points.empty(); }, path);
    if (empty) compound.append(glyph::PixelPath{{{1, 2}, {1, 2}}});
    compound.append(std::move(path));
    document.add_path(std::move(compound), glyph::Color{1, 2, 3, 255});
    return document;
}

glyph::Spline spline_of(std::size_t count) {
    glyph::Spline spline;
    for (std::size_t i = 0; i < count; ++i) spline.points.push_back({0.5 * static_cast<double>(i), 1.25});
    return spline;
}

std::string stop_message(const SvgDocument& document, const std::string& path) {
    try {
        write_svg_file(document, path);
    } catch (const glyph::InternalFailure& failure) {
        return failure.message;
    }
    return "";
}

}  // namespace

// Documents that rendering would stop on stop before the existing file is
// truncated; documents it can write are not stopped.
TEST_F(ConvertFileTest, RenderingStopsComeBeforeTheFileIsTouched) {
    constexpr std::uint32_t TOO_PRECISE = glyph::MAX_PATH_PRECISION + 1;
    struct Case {
        const char* name;
        glyph::SubPath path;
        std::optional<std::uint32_t> precision;
        std::string stop;
    };
    const Case cases[] = {
        {"spline of 4 points", spline_of(4), TOO_PRECISE, "Formatting argument out of range"},
        {"float path with points", glyph::FloatPath{{{1.0, 2.0}}}, TOO_PRECISE, "Formatting argument out of range"},
        {"spline of 5 points", spline_of(5), std::nullopt, "Invalid spline! Length must be 1+3n."},
        {"spline of 5 points, precision", spline_of(5), TOO_PRECISE, "Invalid spline! Length must be 1+3n."},
        {"spline of 3 points", spline_of(3), TOO_PRECISE, ""},
        {"empty float path", glyph::FloatPath{}, TOO_PRECISE, ""},
        {"pixel path", glyph::PixelPath{{{1, 2}, {3, 2}, {1, 2}}}, TOO_PRECISE, ""},
        {"spline at the highest precision", spline_of(4), glyph::MAX_PATH_PRECISION, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = existing_file();
        EXPECT_EQ(stop_message(document_with(c.path, c.precision), path), c.stop);
        if (!c.stop.empty()) {
            EXPECT_EQ(read_file(path), OLD_CONTENT);
        } else {
            EXPECT_EQ(read_file(path), render_svg_to_string(document_with(c.path, c.precision)));
        }
    }
}

TEST_F(ConvertFileTest, OutputThatCannotBeCreated) {
    const SvgDocument document(1, 1, std::nullopt);
    for (const std::string& path : {(directory / "missing" / "out.svg").string(),
                                    (directory / "out.svg").string() + std::string(1, '\0') + "x", std::string()}) {
        EXPECT_EQ(write_svg_file(document, path), "Cannot create output file.");
    }
    EXPECT_TRUE(std::filesystem::is_empty(directory));
}

TEST_F(ConvertFileTest, WriteFailureIsAnInternalFailure) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "needs /dev/full";
    try {
        write_svg_file(SvgDocument(1, 1, std::nullopt), "/dev/full");
        FAIL() << "the write did not fail";
    } catch (const glyph::InternalFailure& failure) {
        EXPECT_EQ(failure.message.rfind("failed to write file.: ", 0), 0u) << failure.message;
    }
}

TEST_F(ConvertFileTest, DocumentReplacesOldContentWithCreationMode) {
    const std::string path = existing_file();
    const SvgDocument document(3, 2, std::nullopt);
    EXPECT_EQ(write_svg_file(document, path), std::nullopt);
    EXPECT_EQ(read_file(path), render_svg_to_string(document));

    const mode_t old_mask = ::umask(022);
    const std::string fresh = (directory / "fresh.svg").string();
    EXPECT_EQ(write_svg_file(document, fresh), std::nullopt);
    ::umask(old_mask);
    EXPECT_EQ(std::filesystem::status(fresh).permissions(), std::filesystem::perms(0644));
}

TEST_F(ConvertFileTest, UnreadableInputLeavesTheOutputUntouched) {
    const std::string output = existing_file();
    const std::string garbage = (directory / "garbage.png").string();
    std::ofstream(garbage, std::ios::binary) << "\x89PNG\r\n\x1a\n broken";
    for (const std::string& input :
         {(directory / "missing.png").string(), garbage, garbage + std::string(1, '\0') + ".png"}) {
        EXPECT_EQ(convert_file(input, output, Settings{}), "No image file found at specified input path");
    }
    EXPECT_EQ(read_file(output), OLD_CONTENT);
}

// A zero side with a huge other side: no pixels, nothing to iterate.
TEST(ConvertPicture, PictureWithoutPixelsIsAnEmptyDocument) {
    for (const auto& [width, height] : {std::pair<std::size_t, std::size_t>{0, SIZE_MAX}, {SIZE_MAX, 0}, {0, 0}}) {
        glyph::RgbaRaster image;
        image.width = width;
        image.height = height;
        Settings settings;
        settings.path_precision = 7;
        ConvertOutcome outcome = convert_picture(std::move(image), settings);
        ASSERT_TRUE(std::holds_alternative<SvgDocument>(outcome));
        const SvgDocument& document = std::get<SvgDocument>(outcome);
        EXPECT_EQ(document.width, width);
        EXPECT_EQ(document.height, height);
        EXPECT_EQ(document.path_precision, 7u);
        EXPECT_TRUE(document.paths.empty());
    }
}
