// Radiance HDR (RGBE). The header starts with "#?RADIANCE" or "#?RGBE" and
// ends with an empty line; a FORMAT line must name 32-bit_rle_rgbe, every other
// line (EXPOSURE included) is ignored. Only the standard orientation
// "-Y height +X width" is accepted. Scanlines may be flat, in the old
// run-length form (a pixel 1,1,1,n repeats the previous pixel n times, with
// the count shifted 8 bits more for each further such pixel in a row) or in
// the adaptive run-length form (four channel planes per scanline).
//
// Fixed conversion, no gamma and no exposure: a channel of mantissa m and
// exponent e is 0 when e = 0 and m x 2^(e - 136) otherwise; that linear value
// clamped to 0..1, times 255, rounded to the nearest integer (halves up).
// Computed exactly in integers: round(m x 255 / 2^(136 - e)).
#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>
#include <vector>

#include "byte_reader.hpp"

namespace pixmorf {

namespace {

using decode_support::allocate_image;
using decode_support::ByteReader;

// The next line without its '\n' (and without one trailing '\r'); nothing
// when no '\n' is left.
std::optional<std::string_view> next_line(ByteReader& reader) {
    const auto rest = reader.rest();
    const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{'\n'});
    if (end == rest.end()) return std::nullopt;
    const auto length = static_cast<std::size_t>(end - rest.begin());
    std::string_view line(reinterpret_cast<const char*>(rest.data()), length);
    reader.skip(length + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "-Y height +X width", tokens separated by blanks.
std::optional<std::pair<std::uint64_t, std::uint64_t>> parse_resolution(std::string_view line) {
    std::array<std::string_view, 4> tokens;
    std::size_t count = 0;
    while (!line.empty()) {
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string_view::npos) break;
        line.remove_prefix(start);
        const std::size_t length = std::min(line.find(' '), line.size());
        if (count == tokens.size()) return std::nullopt;
        tokens[count++] = line.substr(0, length);
        line.remove_prefix(length);
    }
    if (count != 4 || tokens[0] != "-Y" || tokens[2] != "+X") return std::nullopt;
    const auto height = parse_size(tokens[1]);
    const auto width = parse_size(tokens[3]);
    if (!height || !width) return std::nullopt;
    return std::pair{*width, *height};
}

// One scanline of `width` RGBE pixels into `rgbe` (4 bytes per pixel).
bool read_scanline(ByteReader& reader, std::size_t width, std::uint8_t* rgbe) {
    const auto head = reader.rest();
    if (width >= 8 && width <= 0x7FFF && head.size() >= 4 && head[0] == 2 && head[1] == 2 && head[2] < 0x80) {
        // Adaptive run-length form: each channel as runs and literals.
        reader.skip(4);
        if (((std::size_t{head[2]} << 8) | head[3]) != width) return false;
        for (std::size_t channel = 0; channel < 4; ++channel) {
            std::size_t x = 0;
            while (x < width) {
                std::size_t count = reader.u8();
                if (count > 128) {
                    count -= 128;
                    const std::uint8_t value = reader.u8();
                    if (!reader.ok() || count > width - x) return false;
                    for (std::size_t i = 0; i < count; ++i) rgbe[(x++) * 4 + channel] = value;
                } else {
                    if (!reader.ok() || count == 0 || count > width - x) return false;
                    const auto values = reader.take(count);
                    if (!reader.ok()) return false;
                    for (std::size_t i = 0; i < count; ++i) rgbe[(x++) * 4 + channel] = values[i];
                }
            }
        }
        return true;
    }
    // Flat pixels, possibly with old-style repeat pixels.
    std::size_t x = 0;
    unsigned shift = 0;
    while (x < width) {
        const auto pixel = reader.take(4);
        if (!reader.ok()) return false;
        if (pixel[0] == 1 && pixel[1] == 1 && pixel[2] == 1) {
            if (x == 0 || shift > 24) return false;
            const std::uint64_t count = std::uint64_t{pixel[3]} << shift;
            if (count > width - x) return false;
            for (std::uint64_t i = 0; i < count; ++i, ++x) std::copy_n(rgbe + (x - 1) * 4, 4, rgbe + x * 4);
            shift += 8;
        } else {
            std::copy_n(pixel.data(), 4, rgbe + x * 4);
            ++x;
            shift = 0;
        }
    }
    return true;
}

std::uint8_t to_byte(std::uint8_t mantissa, std::uint8_t exponent) {
    if (exponent == 0 || mantissa == 0) return 0;
    if (exponent >= 136) return 255;  // m x 2^(e - 136) >= 1
    const unsigned shift = 136u - exponent;
    if (shift >= 32) return 0;
    const std::uint64_t scaled = (std::uint64_t{mantissa} * 255 + (std::uint64_t{1} << (shift - 1))) >> shift;
    return static_cast<std::uint8_t>(std::min<std::uint64_t>(scaled, 255));
}

DecodeResult decode_hdr_checked(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    const auto magic = next_line(reader);
    if (!magic || (*magic != "#?RADIANCE" && *magic != "#?RGBE")) return std::nullopt;
    for (;;) {
        const auto line = next_line(reader);
        if (!line) return std::nullopt;
        if (line->empty()) break;
        if (line->starts_with("FORMAT=") && line->substr(7) != "32-bit_rle_rgbe") return std::nullopt;
    }
    const auto resolution_line = next_line(reader);
    if (!resolution_line) return std::nullopt;
    const auto size = parse_resolution(*resolution_line);
    if (!size) return std::nullopt;
    // Every scanline takes at least 4 bytes, whatever its form.
    if (size->first != 0 && reader.remaining() / 4 < size->second) return std::nullopt;
    auto image = allocate_image(size->first, size->second, PixelLayout::Rgb, 8);
    if (!image || image->samples8.empty()) return image;

    const std::size_t width = image->width;
    std::vector<std::uint8_t> rgbe(width * 4);
    std::uint8_t* out = image->samples8.data();
    for (std::size_t y = 0; y < image->height; ++y) {
        if (!read_scanline(reader, width, rgbe.data())) return std::nullopt;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint8_t* pixel = rgbe.data() + x * 4;
            for (std::size_t channel = 0; channel < 3; ++channel) *out++ = to_byte(pixel[channel], pixel[3]);
        }
    }
    return image;
}

}  // namespace

DecodeResult decode_hdr(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_hdr_checked(data); });
}

}  // namespace pixmorf
