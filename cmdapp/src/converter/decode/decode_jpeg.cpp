// JPEG through libjpeg-turbo, from memory. Grey stays grey, colour is read as
// RGBA directly, CMYK (and YCCK) is read as CMYK and turned into RGB here.
//
// libjpeg reports fatal errors through error_exit, which must not return: it
// longjmps back to the function that called setjmp. Those functions touch
// only the plain C session record and caller-provided buffers, so no C++
// object with a destructor is ever skipped by the jump.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include <jerror.h>
#include <jpeglib.h>

#include "decoded_image.hpp"
#include "row_streams.hpp"
#include "without_throwing.hpp"

namespace pixmorf {

namespace {

// Progressive files may hold any number of scans; each one re-reads the whole
// coefficient buffer, so a hostile file could take very long. Real files use
// about a dozen.
constexpr int MAX_SCANS = 500;

struct JpegErrorManager {
    jpeg_error_mgr pub;  // first: libjpeg sees only this part
    std::jmp_buf jump;
};

// Everything libjpeg touches; plain data only, so a longjmp may cross it.
struct JpegSession {
    jpeg_decompress_struct cinfo;
    JpegErrorManager error;
    jpeg_progress_mgr progress;
};

JpegErrorManager& error_manager(j_common_ptr cinfo) { return *reinterpret_cast<JpegErrorManager*>(cinfo->err); }

[[noreturn]] void jump_out(j_common_ptr cinfo) { std::longjmp(error_manager(cinfo).jump, 1); }

// Warnings are tolerated, except the two for compressed data that runs out
// (the file ends, or a marker comes) before the picture is complete: the
// library would otherwise fill the missing rows with grey.
void on_message(j_common_ptr cinfo, int msg_level) {
    if (msg_level >= 0) return;
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) jump_out(cinfo);
}

void silent_output(j_common_ptr) {}

void limit_scans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MAX_SCANS) jump_out(cinfo);
}

enum class JpegOutput { Grey, Rgba, Cmyk };

// Reads the header and fixes the output format. The session must have been
// zeroed and must be destroyed with jpeg_destroy_decompress afterwards,
// whatever this returns.
bool read_jpeg_header(JpegSession* session, const std::uint8_t* data, std::size_t size, JpegOutput* output) {
    jpeg_decompress_struct* cinfo = &session->cinfo;
    cinfo->err = jpeg_std_error(&session->error.pub);
    session->error.pub.error_exit = jump_out;
    session->error.pub.emit_message = on_message;
    session->error.pub.output_message = silent_output;
    if (setjmp(session->error.jump)) return false;
    jpeg_create_decompress(cinfo);
    session->progress.progress_monitor = limit_scans;
    cinfo->progress = &session->progress;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
    switch (cinfo->jpeg_color_space) {
        case JCS_GRAYSCALE:
            cinfo->out_color_space = JCS_GRAYSCALE;
            *output = JpegOutput::Grey;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo->out_color_space = JCS_CMYK;
            *output = JpegOutput::Cmyk;
            break;
        default:
            cinfo->out_color_space = JCS_EXT_RGBA;
            *output = JpegOutput::Rgba;
            break;
    }
    jpeg_calc_output_dimensions(cinfo);
    return true;
}

// Decodes every row into `pixels`, which holds height rows of `row_bytes`,
// telling `progress` (when given) after each row.
bool read_jpeg_pixels(JpegSession* session, std::uint8_t* pixels, std::size_t row_bytes,
                      const RowProgress* progress = nullptr) {
    jpeg_decompress_struct* cinfo = &session->cinfo;
    const JDIMENSION expected_width = cinfo->output_width;
    const JDIMENSION expected_height = cinfo->output_height;
    const int expected_components = cinfo->output_components;
    if (setjmp(session->error.jump)) return false;
    if (!jpeg_start_decompress(cinfo)) return false;
    if (cinfo->output_width != expected_width || cinfo->output_height != expected_height ||
        cinfo->output_components != expected_components) {
        return false;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = pixels + std::size_t{cinfo->output_scanline} * row_bytes;
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) return false;
        if (progress != nullptr && !(*progress)(cinfo->output_scanline)) return false;
    }
    return true;
}

struct SessionDestroyer {
    JpegSession* session;
    ~SessionDestroyer() { jpeg_destroy_decompress(&session->cinfo); }
};

// Stored CMYK is ink coverage. Adobe writes it inverted (255 = no ink), which
// is what the product below expects; plain CMYK is inverted first.
void cmyk_to_rgba(std::uint8_t* pixels, std::size_t pixel_count, bool adobe_inverted) {
    for (std::size_t i = 0; i < pixel_count; ++i, pixels += 4) {
        unsigned c = pixels[0], m = pixels[1], y = pixels[2], k = pixels[3];
        if (!adobe_inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        pixels[0] = static_cast<std::uint8_t>((c * k + 127) / 255);
        pixels[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
        pixels[2] = static_cast<std::uint8_t>((y * k + 127) / 255);
        pixels[3] = 255;
    }
}

std::unique_ptr<JpegSession> new_session() {
    auto session = std::make_unique<JpegSession>();
    std::memset(session.get(), 0, sizeof(JpegSession));
    return session;
}

// Reads the header; the picture's output format when a decoder may go on.
std::optional<JpegOutput> open_jpeg(JpegSession* session, std::span<const std::uint8_t> data) {
    JpegOutput output = JpegOutput::Rgba;
    if (!read_jpeg_header(session, data.data(), data.size(), &output)) return std::nullopt;
    const jpeg_decompress_struct& cinfo = session->cinfo;
    if (!within_decode_limit(cinfo.output_width, cinfo.output_height)) return std::nullopt;
    const std::size_t channels = output == JpegOutput::Grey ? 1 : 4;
    if (static_cast<std::size_t>(cinfo.output_components) != channels) return std::nullopt;
    return output;
}

DecodeResult decode_jpeg_unchecked(std::span<const std::uint8_t> data) {
    const std::unique_ptr<JpegSession> session = new_session();
    SessionDestroyer destroyer{session.get()};

    const std::optional<JpegOutput> opened = open_jpeg(session.get(), data);
    if (!opened) return std::nullopt;
    const JpegOutput output = *opened;
    const jpeg_decompress_struct& cinfo = session->cinfo;
    const std::size_t channels = output == JpegOutput::Grey ? 1 : 4;

    DecodedImage image;
    image.width = cinfo.output_width;
    image.height = cinfo.output_height;
    image.layout = output == JpegOutput::Grey ? PixelLayout::Grey : PixelLayout::Rgba;
    const std::size_t pixel_count = image.width * image.height;
    image.samples8.resize(pixel_count * channels);
    if (!read_jpeg_pixels(session.get(), image.samples8.data(), image.width * channels)) return std::nullopt;
    if (output == JpegOutput::Cmyk) cmyk_to_rgba(image.samples8.data(), pixel_count, cinfo.saw_Adobe_marker);
    return image;
}

}  // namespace

DecodeResult decode_jpeg(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_jpeg_unchecked(data); });
}

std::optional<StreamSize> jpeg_stream_size(std::span<const std::uint8_t> data) {
    const std::unique_ptr<JpegSession> session = new_session();
    SessionDestroyer destroyer{session.get()};
    if (open_jpeg(session.get(), data) != JpegOutput::Rgba) return std::nullopt;
    return StreamSize{session->cinfo.output_width, session->cinfo.output_height};
}

bool decode_jpeg_rows(std::span<const std::uint8_t> data, std::span<std::uint8_t> rgba, const RowProgress& progress) {
    const std::unique_ptr<JpegSession> session = new_session();
    SessionDestroyer destroyer{session.get()};
    if (open_jpeg(session.get(), data) != JpegOutput::Rgba) return false;
    const std::size_t row_bytes = std::size_t{session->cinfo.output_width} * 4;
    if (row_bytes == 0 || rgba.size() / row_bytes < session->cinfo.output_height) return false;
    return read_jpeg_pixels(session.get(), rgba.data(), row_bytes, &progress);
}

}  // namespace pixmorf
