// Netpbm: PBM, PGM and PPM in plain (P1, P2, P3) and raw (P4, P5, P6) form,
// and PAM (P7) with the tuple types BLACKANDWHITE, GRAYSCALE, RGB and their
// _ALPHA forms. Comments ('#' to the end of the line) may stand wherever
// whitespace may in a header. Only the first image of a file is read.
//
// Fixed conversions:
// - a maxval above 255 gives 16-bit samples (2 bytes big-endian in raw
//   forms), else 8-bit ones; every sample v is scaled to the full range of its
//   depth, round(v x 255 / maxval) or round(v x 65535 / maxval), halves up;
// - a sample above maxval fails the decode;
// - in PBM 1 is black and 0 white; in PAM BLACKANDWHITE 0 is black and 1 white.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "byte_reader.hpp"

namespace pixmorf {

namespace {

using decode_support::allocate_image;
using decode_support::ByteReader;

constexpr std::uint32_t MAX_MAXVAL = 65535;
constexpr std::uint64_t MAX_HEADER_NUMBER = 0xFFFFFFFF;

bool is_space(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool is_digit(std::uint8_t c) { return c >= '0' && c <= '9'; }

void skip_space_and_comments(ByteReader& reader) {
    while (const auto c = reader.peek()) {
        if (is_space(*c)) {
            reader.skip(1);
        } else if (*c == '#') {
            while (const auto d = reader.peek()) {
                reader.skip(1);
                if (*d == '\n') break;
            }
        } else {
            break;
        }
    }
}

// A decimal number after whitespace and comments; nothing when there is no
// digit or the value passes `limit`.
std::optional<std::uint64_t> read_number(ByteReader& reader, std::uint64_t limit) {
    skip_space_and_comments(reader);
    std::uint64_t value = 0;
    bool any = false;
    while (const auto c = reader.peek()) {
        if (!is_digit(*c)) break;
        value = value * 10 + static_cast<std::uint64_t>(*c - '0');
        if (value > limit) return std::nullopt;
        any = true;
        reader.skip(1);
    }
    if (!any) return std::nullopt;
    return value;
}

// The raw raster starts after exactly one whitespace byte.
bool skip_single_space(ByteReader& reader) {
    const auto c = reader.peek();
    return c && is_space(*c) && reader.skip(1);
}

// Sample values 0..maxval scaled to the full range of the output depth.
std::vector<std::uint16_t> scale_table(std::uint32_t maxval, int bits) {
    const std::uint64_t full = bits == 16 ? 65535 : 255;
    std::vector<std::uint16_t> table(maxval + 1);
    for (std::uint64_t v = 0; v <= maxval; ++v) {
        table[v] = static_cast<std::uint16_t>((2 * v * full + maxval) / (2 * std::uint64_t{maxval}));
    }
    return table;
}

struct RasterShape {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint32_t maxval = 1;
    PixelLayout layout = PixelLayout::Grey;
};

int bits_for(std::uint32_t maxval) { return maxval > 255 ? 16 : 8; }

// Writes sample `index` of the picture.
void store(DecodedImage& image, std::size_t index, std::uint16_t value) {
    if (image.bits_per_channel == 16) {
        image.samples16[index] = value;
    } else {
        image.samples8[index] = static_cast<std::uint8_t>(value);
    }
}

// Raw samples of 1 or 2 big-endian bytes (P5, P6, P7).
DecodeResult read_raw_samples(ByteReader& reader, const RasterShape& shape) {
    if (!within_decode_limit(shape.width, shape.height)) return std::nullopt;
    const int bits = bits_for(shape.maxval);
    const std::uint64_t count = shape.width * shape.height * channel_count(shape.layout);
    const std::size_t sample_size = bits == 16 ? 2 : 1;
    const auto bytes = reader.take(count * sample_size);
    if (!reader.ok()) return std::nullopt;
    auto image = allocate_image(shape.width, shape.height, shape.layout, bits);
    if (!image) return image;
    const auto table = scale_table(shape.maxval, bits);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t v = sample_size == 2 ? decode_support::load_be16(bytes.data() + 2 * i) : bytes[i];
        if (v > shape.maxval) return std::nullopt;
        store(*image, i, table[v]);
    }
    return image;
}

// Plain decimal samples (P2, P3).
DecodeResult read_plain_samples(ByteReader& reader, const RasterShape& shape) {
    if (!within_decode_limit(shape.width, shape.height)) return std::nullopt;
    const std::uint64_t count = shape.width * shape.height * channel_count(shape.layout);
    // Each sample takes a digit and all but the last a separator.
    if (count > 0 && reader.remaining() < 2 * count - 1) return std::nullopt;
    const int bits = bits_for(shape.maxval);
    auto image = allocate_image(shape.width, shape.height, shape.layout, bits);
    if (!image) return image;
    const auto table = scale_table(shape.maxval, bits);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = read_number(reader, shape.maxval);
        if (!v) return std::nullopt;
        store(*image, i, table[*v]);
    }
    return image;
}

DecodeResult read_plain_bits(ByteReader& reader, std::uint64_t width, std::uint64_t height) {
    if (!within_decode_limit(width, height)) return std::nullopt;
    if (reader.remaining() < width * height) return std::nullopt;  // a character per pixel at least
    auto image = allocate_image(width, height, PixelLayout::Grey, 8);
    if (!image) return image;
    for (auto& pixel : image->samples8) {
        skip_space_and_comments(reader);
        const std::uint8_t c = reader.u8();
        if (!reader.ok() || (c != '0' && c != '1')) return std::nullopt;
        pixel = c == '1' ? 0 : 255;
    }
    return image;
}

DecodeResult read_raw_bits(ByteReader& reader, std::uint64_t width, std::uint64_t height) {
    if (!within_decode_limit(width, height)) return std::nullopt;
    const std::uint64_t stride = (width + 7) / 8;
    const auto bytes = reader.take(stride * height);
    if (!reader.ok()) return std::nullopt;
    auto image = allocate_image(width, height, PixelLayout::Grey, 8);
    if (!image || image->samples8.empty()) return image;  // no rows to walk when there are no pixels
    std::uint8_t* out = image->samples8.data();
    for (std::size_t y = 0; y < image->height; ++y) {
        const std::uint8_t* row = bytes.data() + y * stride;
        for (std::size_t x = 0; x < image->width; ++x) *out++ = ((row[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
    }
    return image;
}

// The next header line of a PAM file, comments dropped, split into the
// keyword and the rest with surrounding blanks removed.
std::optional<std::pair<std::string_view, std::string_view>> pam_line(ByteReader& reader) {
    for (;;) {
        const auto rest = reader.rest();
        std::size_t length = 0;
        while (length < rest.size() && rest[length] != '\n') ++length;
        if (length == rest.size()) return std::nullopt;
        std::string_view line(reinterpret_cast<const char*>(rest.data()), length);
        reader.skip(length + 1);
        line = line.substr(0, line.find('#'));
        constexpr std::string_view blanks = " \t\r\v\f";
        const std::size_t start = line.find_first_not_of(blanks);
        if (start == std::string_view::npos) continue;
        line = line.substr(start, line.find_last_not_of(blanks) - start + 1);
        const std::size_t split = std::min(line.find_first_of(blanks), line.size());
        std::string_view value = line.substr(split);
        const std::size_t value_start = value.find_first_not_of(blanks);
        value = value_start == std::string_view::npos ? std::string_view{} : value.substr(value_start);
        return std::pair{line.substr(0, split), value};
    }
}

std::optional<std::uint64_t> pam_number(std::string_view text, std::uint64_t limit) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > limit) return std::nullopt;
    }
    return value;
}

DecodeResult decode_pam(ByteReader& reader) {
    std::optional<std::uint64_t> width, height, depth, maxval;
    std::string tuple_type;
    for (;;) {
        const auto line = pam_line(reader);
        if (!line) return std::nullopt;
        const auto [keyword, value] = *line;
        if (keyword == "ENDHDR") break;
        if (keyword == "TUPLTYPE") {
            if (!tuple_type.empty()) tuple_type += ' ';
            tuple_type += value;
            continue;
        }
        std::optional<std::uint64_t>* field = keyword == "WIDTH"    ? &width
                                              : keyword == "HEIGHT" ? &height
                                              : keyword == "DEPTH"  ? &depth
                                              : keyword == "MAXVAL" ? &maxval
                                                                    : nullptr;
        if (!field) return std::nullopt;
        *field = pam_number(value, MAX_HEADER_NUMBER);
        if (!*field) return std::nullopt;
    }
    if (!width || !height || !depth || !maxval || *maxval == 0 || *maxval > MAX_MAXVAL) return std::nullopt;

    struct TupleType {
        std::string_view name;
        std::uint64_t depth;
        PixelLayout layout;
        bool bilevel;
    };
    constexpr TupleType TUPLE_TYPES[] = {
        {"BLACKANDWHITE", 1, PixelLayout::Grey, true},
        {"GRAYSCALE", 1, PixelLayout::Grey, false},
        {"RGB", 3, PixelLayout::Rgb, false},
        {"BLACKANDWHITE_ALPHA", 2, PixelLayout::GreyAlpha, true},
        {"GRAYSCALE_ALPHA", 2, PixelLayout::GreyAlpha, false},
        {"RGB_ALPHA", 4, PixelLayout::Rgba, false},
    };
    std::optional<PixelLayout> layout;
    for (const auto& type : TUPLE_TYPES) {
        const bool named = tuple_type == type.name;
        // Without a tuple type the depth decides.
        const bool implied = tuple_type.empty() && !type.bilevel && *depth == type.depth;
        if (!named && !implied) continue;
        if (*depth != type.depth || (type.bilevel && *maxval != 1)) return std::nullopt;
        layout = type.layout;
        break;
    }
    if (!layout) return std::nullopt;
    return read_raw_samples(reader, {*width, *height, static_cast<std::uint32_t>(*maxval), *layout});
}

DecodeResult decode_pnm_checked(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    const std::uint8_t p = reader.u8();
    const std::uint8_t kind = reader.u8();
    if (!reader.ok() || p != 'P' || kind < '1' || kind > '7') return std::nullopt;
    if (kind == '7') {
        const std::uint8_t newline = reader.u8();
        if (newline != '\n') return std::nullopt;
        return decode_pam(reader);
    }
    // The magic number is followed by whitespace (or a comment) before the width.
    const auto after_magic = reader.peek();
    if (!after_magic || (!is_space(*after_magic) && *after_magic != '#')) return std::nullopt;
    const auto width = read_number(reader, MAX_HEADER_NUMBER);
    const auto height = read_number(reader, MAX_HEADER_NUMBER);
    if (!width || !height) return std::nullopt;
    if (kind == '1') return read_plain_bits(reader, *width, *height);
    if (kind == '4') {
        if (!skip_single_space(reader)) return std::nullopt;
        return read_raw_bits(reader, *width, *height);
    }
    const auto maxval = read_number(reader, MAX_MAXVAL);
    if (!maxval || *maxval == 0) return std::nullopt;
    const bool colour = kind == '3' || kind == '6';
    const RasterShape shape{*width, *height, static_cast<std::uint32_t>(*maxval),
                            colour ? PixelLayout::Rgb : PixelLayout::Grey};
    if (kind == '2' || kind == '3') return read_plain_samples(reader, shape);
    if (!skip_single_space(reader)) return std::nullopt;
    return read_raw_samples(reader, shape);
}

}  // namespace

DecodeResult decode_pnm(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_pnm_checked(data); });
}

}  // namespace pixmorf
