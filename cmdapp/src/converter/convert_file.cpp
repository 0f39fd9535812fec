#include "convert_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>
#include <variant>

#include "../../../glyphfoundry/src/failure.hpp"
#include "convert_encoded.hpp"
#include "decode/image_input.hpp"

namespace pixmorf {

namespace {

constexpr const char* NO_INPUT_FILE = "No image file found at specified input path";
constexpr const char* CANNOT_CREATE_OUTPUT = "Cannot create output file.";

[[noreturn]] void stop_write_failed(int error) {
    glyph::stop("failed to write file.: " + std::system_category().message(error));
}

// The output file, written through a buffer; owns the descriptor.
class FileSink {
public:
    static std::optional<FileSink> create(const std::string& path) {
        // A name with a NUL byte would silently open a shorter name.
        if (path.find('\0') != std::string::npos) return std::nullopt;
        const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (descriptor < 0) return std::nullopt;
        return FileSink(descriptor);
    }

    FileSink(FileSink&& other) noexcept
        : descriptor_(std::exchange(other.descriptor_, -1)), buffer_(std::move(other.buffer_)) {}
    FileSink& operator=(FileSink&&) = delete;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    ~FileSink() {
        if (descriptor_ >= 0) ::close(descriptor_);  // after a failure: the file stays as far as written
    }

    void write(std::string_view piece) {
        if (buffer_.size() + piece.size() > CAPACITY) flush();
        if (piece.size() >= CAPACITY) {
            write_all(piece);
        } else {
            buffer_.append(piece);
        }
    }

    // Writes what is buffered and closes the file.
    void finish() {
        flush();
        const int descriptor = std::exchange(descriptor_, -1);
        if (::close(descriptor) != 0 && errno != EINTR) stop_write_failed(errno);
    }

private:
    static constexpr std::size_t CAPACITY = 64 * 1024;

    explicit FileSink(int descriptor) : descriptor_(descriptor) { buffer_.reserve(CAPACITY); }

    void flush() {
        write_all(buffer_);
        buffer_.clear();
    }

    void write_all(std::string_view data) {
        while (!data.empty()) {
            const ssize_t written = ::write(descriptor_, data.data(), data.size());
            if (written < 0) {
                if (errno == EINTR) continue;
                stop_write_failed(errno);
            }
            if (written == 0) stop_write_failed(EIO);
            data.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    int descriptor_ = -1;
    std::string buffer_;
};

// Rendering stops at the first sub-path it cannot write: a spline whose
// length is not 1 + 3n, or a float coordinate when the precision is out of
// range. Find that stop, in rendering order, before the file is created.
void check_renderable(const SvgDocument& document) {
    const bool precision_out_of_range =
        document.path_precision.has_value() && *document.path_precision > glyph::MAX_PATH_PRECISION;
    for (const SvgShape& shape : document.paths) {
        for (const glyph::SubPath& path : shape.path.paths) {
            if (const auto* spline = std::get_if<glyph::Spline>(&path)) {
                if (spline->points.size() < 4) continue;  // written as empty text
                if ((spline->points.size() - 1) % 3 != 0) glyph::stop("Invalid spline! Length must be 1+3n.");
                if (precision_out_of_range) glyph::stop("Formatting argument out of range");
            } else if (const auto* floats = std::get_if<glyph::FloatPath>(&path)) {
                if (!floats->points.empty() && precision_out_of_range) {
                    glyph::stop("Formatting argument out of range");
                }
            }
        }
    }
}

}  // namespace

ConvertOutcome convert_picture(glyph::RgbaRaster image, const Settings& settings) {
    if (image.has_no_pixels()) {
        // Colour clustering refuses an invalid colour shift before it looks at
        // any pixel; an empty picture keeps that failure.
        if (settings.color_mode == ColorMode::Color && conversion_params(settings).color_tolerance >= 8) {
            glyph::stop("assertion failed: is_same_color_a < 8");
        }
        return SvgDocument(image.width, image.height, settings.path_precision);
    }
    return convert_image(std::move(image), settings);
}

std::optional<std::string> write_svg_file(const SvgDocument& document, const std::string& output_path) {
    check_renderable(document);
    std::optional<FileSink> sink = FileSink::create(output_path);
    if (!sink) return std::string(CANNOT_CREATE_OUTPUT);
    render_svg(document, [&sink](std::string_view piece) { sink->write(piece); });
    sink->finish();
    return std::nullopt;
}

std::optional<std::string> convert_file(const std::string& input_path, const std::string& output_path,
                                        const Settings& settings) {
    if (input_path.find('\0') != std::string::npos) return std::string(NO_INPUT_FILE);
    std::optional<EncodedFile> file = read_image_file(input_path);
    if (!file) return std::string(NO_INPUT_FILE);
    std::optional<ConvertOutcome> outcome = decode_and_convert(std::move(file->bytes), file->format, settings);
    file.reset();
    if (!outcome) return std::string(NO_INPUT_FILE);
    if (auto* error = std::get_if<ErrorText>(&*outcome)) return std::move(error->text);
    return write_svg_file(std::get<SvgDocument>(*outcome), output_path);
}

}  // namespace pixmorf
