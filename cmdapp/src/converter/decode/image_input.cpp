#include "image_input.hpp"

#include <array>
#include <fstream>
#include <iterator>
#include <vector>

#include "decoded_image.hpp"

namespace pixmorf {

namespace {

struct FormatEntry {
    InputFormat format;
    std::array<std::string_view, 4> names;
};

constexpr FormatEntry FORMAT_NAMES[] = {
    {InputFormat::Png, {"png"}},
    {InputFormat::Jpeg, {"jpg", "jpeg"}},
    {InputFormat::Gif, {"gif"}},
    {InputFormat::WebP, {"webp"}},
    {InputFormat::Pnm, {"pbm", "pam", "ppm", "pgm"}},
    {InputFormat::Tiff, {"tif", "tiff"}},
    {InputFormat::Tga, {"tga"}},
    {InputFormat::Dds, {"dds"}},
    {InputFormat::Bmp, {"bmp"}},
    {InputFormat::Ico, {"ico"}},
    {InputFormat::Hdr, {"hdr"}},
    {InputFormat::Farbfeld, {"ff", "farbfeld"}},
    {InputFormat::Avif, {"avif"}},
};

struct Signature {
    InputFormat format;
    std::string_view bytes;
};

using namespace std::string_view_literals;
constexpr Signature SIGNATURES[] = {
    {InputFormat::Png, "\x89PNG\r\n\x1a\n"sv},
    {InputFormat::Jpeg, "\xff\xd8\xff"sv},
    {InputFormat::Gif, "GIF89a"sv},
    {InputFormat::Gif, "GIF87a"sv},
    {InputFormat::WebP, "RIFF"sv},
    {InputFormat::Pnm, "P1"sv},
    {InputFormat::Pnm, "P2"sv},
    {InputFormat::Pnm, "P3"sv},
    {InputFormat::Pnm, "P4"sv},
    {InputFormat::Pnm, "P5"sv},
    {InputFormat::Pnm, "P6"sv},
    {InputFormat::Pnm, "P7"sv},
    {InputFormat::Tiff, "MM\x00\x2a"sv},
    {InputFormat::Tiff, "II\x2a\x00"sv},
    {InputFormat::Dds, "DDS "sv},
    {InputFormat::Bmp, "BM"sv},
    {InputFormat::Ico, "\x00\x00\x01\x00"sv},
    {InputFormat::Hdr, "#?RADIANCE"sv},
    {InputFormat::Farbfeld, "farbfeld"sv},
    {InputFormat::Avif, "\x00\x00\x00\x20" "ftypavif"sv},
};

DecodeResult decode_as(InputFormat format, std::span<const std::uint8_t> data) {
    switch (format) {
        case InputFormat::Png: return decode_png(data);
        case InputFormat::Jpeg: return decode_jpeg(data);
        case InputFormat::Gif: return decode_gif(data);
        case InputFormat::WebP: return decode_webp(data);
        case InputFormat::Pnm: return decode_pnm(data);
        case InputFormat::Tiff: return decode_tiff(data);
        case InputFormat::Tga: return decode_tga(data);
        case InputFormat::Dds: return decode_dds(data);
        case InputFormat::Bmp: return decode_bmp(data);
        case InputFormat::Ico: return decode_ico(data);
        case InputFormat::Hdr: return decode_hdr(data);
        case InputFormat::Farbfeld: return decode_farbfeld(data);
        case InputFormat::Avif: return std::nullopt;  // recognised, not supported
    }
    return std::nullopt;
}

// Whether a decoder's result holds a picture of its declared size and depth.
bool well_formed(const DecodedImage& decoded) {
    if (decoded.bits_per_channel != 8 && decoded.bits_per_channel != 16) return false;
    if (!within_decode_limit(decoded.width, decoded.height)) return false;
    const std::size_t samples = decoded.width * decoded.height * channel_count(decoded.layout);
    return decoded.bits_per_channel == 16 ? decoded.samples16.size() == samples : decoded.samples8.size() == samples;
}

// Sample i as 8 bits: 16-bit samples keep their high byte.
std::uint8_t sample8(const DecodedImage& decoded, std::size_t i) {
    return decoded.bits_per_channel == 16 ? static_cast<std::uint8_t>(decoded.samples16[i] >> 8) : decoded.samples8[i];
}

// Any decoded layout to 8-bit RGBA.
std::optional<glyph::RgbaRaster> to_rgba(DecodedImage&& decoded) {
    if (!well_formed(decoded)) return std::nullopt;
    const std::size_t channels = channel_count(decoded.layout);
    const std::size_t pixel_count = decoded.width * decoded.height;
    const bool wide = decoded.bits_per_channel == 16;
    auto sample = [&](std::size_t i) -> std::uint8_t { return sample8(decoded, i); };
    glyph::RgbaRaster raster;
    raster.width = decoded.width;
    raster.height = decoded.height;
    if (!wide && decoded.layout == PixelLayout::Rgba) {
        raster.pixels = std::move(decoded.samples8);
        return raster;
    }
    raster.pixels.resize(pixel_count * 4);
    std::uint8_t* out = raster.pixels.data();
    for (std::size_t p = 0; p < pixel_count; ++p, out += 4) {
        const std::size_t in = p * channels;
        switch (decoded.layout) {
            case PixelLayout::Grey:
                out[0] = out[1] = out[2] = sample(in);
                out[3] = 255;
                break;
            case PixelLayout::GreyAlpha:
                out[0] = out[1] = out[2] = sample(in);
                out[3] = sample(in + 1);
                break;
            case PixelLayout::Rgb:
                out[0] = sample(in);
                out[1] = sample(in + 1);
                out[2] = sample(in + 2);
                out[3] = 255;
                break;
            case PixelLayout::Rgba:
                out[0] = sample(in);
                out[1] = sample(in + 1);
                out[2] = sample(in + 2);
                out[3] = sample(in + 3);
                break;
        }
    }
    return raster;
}

}  // namespace

std::optional<glyph::BitRaster> decode_dark_pixels(InputFormat format, std::span<const std::uint8_t> data) {
    const DecodeResult decoded = decode_as(format, data);
    if (!decoded || !well_formed(*decoded)) return std::nullopt;
    // The first channel is red, or the grey level that red would take.
    const std::size_t channels = channel_count(decoded->layout);
    const std::size_t pixel_count = decoded->width * decoded->height;
    glyph::BitRaster dark = glyph::BitRaster::create(decoded->width, decoded->height);
    for (std::size_t p = 0; p < pixel_count; ++p) {
        if (sample8(*decoded, p * channels) < DARK_BELOW) dark.set_bit(p, true);
    }
    return dark;
}

std::optional<glyph::RgbaRaster> decode_picture(InputFormat format, std::span<const std::uint8_t> data) {
    DecodeResult decoded = decode_as(format, data);
    if (!decoded) return std::nullopt;
    return to_rgba(std::move(*decoded));
}

std::optional<InputFormat> format_from_name(std::string_view name) {
    std::string lowered(name);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& entry : FORMAT_NAMES) {
        for (std::string_view candidate : entry.names) {
            if (!candidate.empty() && candidate == lowered) return entry.format;
        }
    }
    return std::nullopt;
}

std::optional<InputFormat> format_from_signature(std::span<const std::uint8_t> data) {
    const std::size_t available = data.size() < 16 ? data.size() : 16;
    const std::string_view head(reinterpret_cast<const char*>(data.data()), available);
    for (const auto& signature : SIGNATURES) {
        if (head.starts_with(signature.bytes)) return signature.format;
    }
    return std::nullopt;
}

std::optional<InputFormat> choose_format(std::span<const std::uint8_t> data,
                                         std::optional<std::string_view> format_name) {
    std::optional<InputFormat> format;
    if (format_name) format = format_from_name(*format_name);
    if (!format) format = format_from_signature(data);
    return format;
}

std::variant<glyph::RgbaRaster, std::string> decode_image_bytes(std::span<const std::uint8_t> data,
                                                                 std::optional<std::string_view> format_name) {
    const std::optional<InputFormat> format = choose_format(data, format_name);
    if (!format) return std::string(DECODE_FAILED);
    auto raster = decode_picture(*format, data);
    if (!raster) return std::string(DECODE_FAILED);
    return std::move(*raster);
}

std::optional<EncodedFile> read_image_file(const std::string& path) {
    if (path.find('\0') != std::string::npos) return std::nullopt;  // the OS would read a shorter name
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    // The extension: after the last '.' of the last component, unless that '.' starts it.
    const std::size_t slash = path.find_last_of('/');
    const std::string_view component =
        std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = component.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return std::nullopt;
    const auto format = format_from_name(component.substr(dot + 1));
    if (!format) return std::nullopt;
    EncodedFile file{{(std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()}, *format};
    if (in.bad()) return std::nullopt;
    return file;
}

std::optional<glyph::RgbaRaster> decode_image_file(const std::string& path) {
    const std::optional<EncodedFile> file = read_image_file(path);
    if (!file) return std::nullopt;
    return decode_picture(file->format, file->bytes);
}

}  // namespace pixmorf
