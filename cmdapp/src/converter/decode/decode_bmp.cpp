// BMP files and the bitmap images inside icons.
//
// Accepted: the OS/2 1.x core header (12 bytes), OS/2 2.x headers (16 and 64
// bytes) and the Windows info headers of 40, 52, 56, 108 and 124 bytes; 1, 4,
// 8, 16, 24 and 32 bits per pixel; uncompressed, RLE8, RLE4 and bit fields
// (with or without an alpha mask). Rows are bottom-up, or top-down when the
// height is negative. The result is always 8-bit RGBA.
//
// Fixed conversions:
// - palette colours are opaque; a palette index beyond the palette fails the
//   decode (the file is corrupt, and guessing a colour would hide that);
// - 16-bit pixels are 5-5-5 and 32-bit pixels 8-8-8 unless bit fields say
//   otherwise; a channel of n bits is widened by repeating its bits;
// - the alpha channel comes from the header's alpha mask only: a 32-bit
//   picture without one is opaque and its fourth byte is ignored;
// - pixels that an RLE delta, end of line or early end of bitmap skips take
//   palette entry 0, opaque;
// - an RLE run or literal that passes the end of its row, a delta that leaves
//   the picture, or a stream without its end-of-bitmap mark fails the decode.
#include <algorithm>
#include <array>
#include <vector>

#include "bmp_dib.hpp"
#include "byte_reader.hpp"
#include "channel_bits.hpp"

namespace pixmorf {

namespace {

using decode_support::allocate_image;
using decode_support::ByteReader;
using decode_support::ChannelMask;
using decode_support::load_le16;
using decode_support::load_le32;

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

constexpr std::size_t FILE_HEADER_SIZE = 14;

struct DibHeader {
    std::uint32_t size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows stored top-down
    std::uint32_t bit_count = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t colors_used = 0;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
    std::size_t palette_entry_size = 4;
    std::uint64_t end = 0;  // offset just after the header and any masks following it
};

bool uses_bit_fields(const DibHeader& header) {
    return header.compression == BI_BITFIELDS || header.compression == BI_ALPHABITFIELDS;
}

std::optional<DibHeader> read_header(std::span<const std::uint8_t> data, std::size_t offset) {
    ByteReader reader(data);
    reader.seek(offset);
    DibHeader header;
    header.size = reader.le32();
    switch (header.size) {
        case 12:  // OS/2 1.x core header: unsigned 16-bit size, 3-byte palette entries
            header.width = reader.le16();
            header.height = reader.le16();
            reader.le16();  // planes
            header.bit_count = reader.le16();
            header.palette_entry_size = 3;
            break;
        case 16:  // OS/2 2.x headers: the fields they share with the Windows header
        case 64:
            header.width = reader.le32_signed();
            header.height = reader.le32_signed();
            reader.le16();
            header.bit_count = reader.le16();
            if (header.size == 64) {
                header.compression = reader.le32();
                reader.skip(12);  // image size, resolution
                header.colors_used = reader.le32();
            }
            // OS/2 compression 3 is Huffman 1D and 4 is RLE24: neither is supported.
            if (header.compression != BI_RGB && header.compression != BI_RLE8 &&
                header.compression != BI_RLE4) {
                return std::nullopt;
            }
            break;
        case 40:
        case 52:
        case 56:
        case 108:
        case 124:
            header.width = reader.le32_signed();
            header.height = reader.le32_signed();
            reader.le16();
            header.bit_count = reader.le16();
            header.compression = reader.le32();
            reader.skip(12);  // image size, resolution
            header.colors_used = reader.le32();
            reader.le32();  // important colours
            if (header.size >= 52) {
                for (std::size_t i = 0; i < 3; ++i) header.masks[i] = reader.le32();
            }
            if (header.size >= 56) header.masks[3] = reader.le32();
            break;
        default:
            return std::nullopt;
    }
    header.end = std::uint64_t{offset} + header.size;
    reader.seek(header.end);
    if (header.size == 40 && uses_bit_fields(header)) {
        // The plain info header keeps its masks just after itself.
        const std::size_t count = header.compression == BI_ALPHABITFIELDS ? 4 : 3;
        for (std::size_t i = 0; i < count; ++i) header.masks[i] = reader.le32();
        header.end += 4 * count;
    }
    if (!reader.ok()) return std::nullopt;
    return header;
}

bool valid_depth_and_compression(const DibHeader& header, DibKind kind) {
    const bool rgb = header.compression == BI_RGB;
    switch (header.bit_count) {
        case 1:
            return rgb;
        case 4:
            return rgb || (header.compression == BI_RLE4 && kind == DibKind::File);
        case 8:
            return rgb || (header.compression == BI_RLE8 && kind == DibKind::File);
        case 24:
            return rgb;
        case 16:
        case 32:
            return header.size >= 40 && header.size != 64 && (rgb || uses_bit_fields(header));
        default:
            return false;
    }
}

struct PackedFormat {
    ChannelMask red, green, blue, alpha;
};

std::optional<PackedFormat> packed_format(const DibHeader& header, DibKind kind) {
    std::array<std::uint32_t, 4> masks = header.masks;
    if (!uses_bit_fields(header)) {
        if (header.bit_count == 16) {
            masks[0] = 0x7C00;
            masks[1] = 0x03E0;
            masks[2] = 0x001F;
        } else {
            masks[0] = 0x00FF0000;
            masks[1] = 0x0000FF00;
            masks[2] = 0x000000FF;
        }
    }
    // Without bit fields only a 32-bit picture may take the header's alpha mask.
    if (!uses_bit_fields(header) && header.bit_count != 32) masks[3] = 0;
    // A 32-bit icon image carries its alpha in the fourth byte.
    if (kind == DibKind::Icon && header.bit_count == 32 && masks[3] == 0) masks[3] = 0xFF000000;
    const int bits = static_cast<int>(header.bit_count);
    const auto red = ChannelMask::from_mask(masks[0], bits);
    const auto green = ChannelMask::from_mask(masks[1], bits);
    const auto blue = ChannelMask::from_mask(masks[2], bits);
    const auto alpha = ChannelMask::from_mask(masks[3], bits);
    if (!red || !green || !blue || !alpha) return std::nullopt;
    return PackedFormat{*red, *green, *blue, *alpha};
}

using Palette = std::vector<std::array<std::uint8_t, 4>>;

void put_packed(std::uint8_t* out, std::uint32_t pixel, const PackedFormat& format) {
    out[0] = format.red.extract(pixel);
    out[1] = format.green.extract(pixel);
    out[2] = format.blue.extract(pixel);
    out[3] = format.alpha.present() ? format.alpha.extract(pixel) : 255;
}

// One uncompressed row of `width` pixels into RGBA; false on a bad palette index.
bool decode_row(const std::uint8_t* row, std::size_t width, std::uint32_t bit_count,
                const Palette& palette, const PackedFormat& format, std::uint8_t* out) {
    for (std::size_t x = 0; x < width; ++x, out += 4) {
        switch (bit_count) {
            case 1:
            case 4:
            case 8: {
                const std::size_t bit = x * bit_count;
                const unsigned shift = 8 - bit_count - static_cast<unsigned>(bit % 8);
                const std::size_t index = (row[bit / 8] >> shift) & ((1u << bit_count) - 1);
                if (index >= palette.size()) return false;
                std::copy(palette[index].begin(), palette[index].end(), out);
                break;
            }
            case 16:
                put_packed(out, load_le16(row + 2 * x), format);
                break;
            case 24:
                out[0] = row[3 * x + 2];
                out[1] = row[3 * x + 1];
                out[2] = row[3 * x];
                out[3] = 255;
                break;
            default:
                put_packed(out, load_le32(row + 4 * x), format);
                break;
        }
    }
    return true;
}

// Decodes an RLE8 or RLE4 stream into palette indices, row-major top row
// first. Pixels the stream skips stay 0.
bool decode_rle(ByteReader& reader, bool rle4, std::size_t width, std::size_t height, bool top_down,
                std::vector<std::uint8_t>& indices) {
    std::size_t x = 0;
    std::size_t row = 0;  // in stream order
    auto at = [&](std::size_t column) -> std::uint8_t& {
        const std::size_t y = top_down ? row : height - 1 - row;
        return indices[y * width + column];
    };
    for (;;) {
        const std::uint8_t count = reader.u8();
        const std::uint8_t value = reader.u8();
        if (!reader.ok()) return false;  // no end-of-bitmap mark
        if (count > 0) {
            if (row >= height || count > width - x) return false;
            for (std::size_t i = 0; i < count; ++i) {
                at(x++) = rle4 ? static_cast<std::uint8_t>(i % 2 == 0 ? value >> 4 : value & 0x0F) : value;
            }
            continue;
        }
        switch (value) {
            case 0:  // end of line
                if (row >= height) return false;
                x = 0;
                ++row;
                break;
            case 1:  // end of bitmap
                return true;
            case 2: {  // delta
                const std::uint8_t dx = reader.u8();
                const std::uint8_t dy = reader.u8();
                if (!reader.ok() || dx > width - x || dy > height - row) return false;
                x += dx;
                row += dy;
                break;
            }
            default: {  // literal run, padded to a 16-bit boundary
                const std::size_t literal_bytes = rle4 ? (value + 1u) / 2 : value;
                const auto bytes = reader.take(literal_bytes + literal_bytes % 2);
                if (!reader.ok() || row >= height || value > width - x) return false;
                for (std::size_t i = 0; i < value; ++i) {
                    at(x++) = rle4 ? static_cast<std::uint8_t>(i % 2 == 0 ? bytes[i / 2] >> 4
                                                                           : bytes[i / 2] & 0x0F)
                                   : bytes[i];
                }
                break;
            }
        }
    }
}

DecodeResult decode_dib_checked(std::span<const std::uint8_t> data, std::size_t header_offset,
                                std::uint64_t pixel_offset, DibKind kind) {
    const auto header = read_header(data, header_offset);
    if (!header || !valid_depth_and_compression(*header, kind)) return std::nullopt;
    if (header->width < 0) return std::nullopt;
    if (kind == DibKind::Icon && header->height < 0) return std::nullopt;
    const bool top_down = header->height < 0;
    const std::uint64_t width = static_cast<std::uint64_t>(header->width);
    std::uint64_t height = static_cast<std::uint64_t>(top_down ? -header->height : header->height);
    if (kind == DibKind::Icon) height /= 2;  // the AND-mask rows are counted too
    if (!within_decode_limit(width, height)) return std::nullopt;

    const std::uint32_t bit_count = header->bit_count;
    const bool indexed = bit_count <= 8;
    std::optional<PackedFormat> format;
    if (!indexed && bit_count != 24) {
        format = packed_format(*header, kind);
        if (!format) return std::nullopt;
    }

    // The palette: 2^bits entries unless the header names fewer. Bitmaps of
    // more bits may still store an (unused) palette of `colors_used` entries.
    std::uint64_t stored_entries = header->colors_used;
    if (indexed && (stored_entries == 0 || header->size == 12)) stored_entries = std::uint64_t{1} << bit_count;
    const std::uint64_t used_entries = indexed ? std::min(stored_entries, std::uint64_t{1} << bit_count) : 0;
    ByteReader reader(data);
    reader.seek(header->end);
    const auto palette_bytes = reader.take(used_entries * header->palette_entry_size);
    if (!reader.ok()) return std::nullopt;
    Palette palette(used_entries);
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::uint8_t* entry = palette_bytes.data() + i * header->palette_entry_size;
        palette[i] = {entry[2], entry[1], entry[0], 255};
    }

    if (kind == DibKind::Icon) {
        pixel_offset = header->end + stored_entries * header->palette_entry_size;  // < 2^34, no overflow
    }
    if (!reader.seek(pixel_offset)) return std::nullopt;

    auto image = allocate_image(width, height, PixelLayout::Rgba, 8);
    if (!image || width == 0 || height == 0) return image;
    std::uint8_t* out = image->samples8.data();
    const std::size_t w = image->width;
    const std::size_t h = image->height;

    if (header->compression == BI_RLE8 || header->compression == BI_RLE4) {
        std::vector<std::uint8_t> indices(w * h, 0);
        if (!decode_rle(reader, header->compression == BI_RLE4, w, h, top_down, indices)) return std::nullopt;
        for (std::size_t p = 0; p < indices.size(); ++p, out += 4) {
            if (indices[p] >= palette.size()) return std::nullopt;
            std::copy(palette[indices[p]].begin(), palette[indices[p]].end(), out);
        }
        return image;
    }

    // Width is at least 1 here, so the limit keeps stride x height small.
    const std::uint64_t stride = (width * bit_count + 31) / 32 * 4;
    const auto pixels = reader.take(stride * height);
    if (!reader.ok()) return std::nullopt;
    const PackedFormat packed = format.value_or(PackedFormat{});
    for (std::size_t row = 0; row < h; ++row) {
        const std::size_t y = top_down ? row : h - 1 - row;
        if (!decode_row(pixels.data() + row * stride, w, bit_count, palette, packed, out + y * w * 4)) {
            return std::nullopt;
        }
    }

    if (kind == DibKind::Icon && bit_count < 32) {
        // The AND mask: one bit per pixel, rows bottom-up; a set bit makes the
        // pixel transparent and keeps its colour. Some writers store a mask
        // shorter than the picture (or none at all), so only the bytes that
        // the payload holds are read; a pixel whose mask byte is missing keeps
        // a clear bit and stays opaque.
        const std::size_t mask_stride = (w + 31) / 32 * 4;
        const auto mask = reader.rest().first(std::min(reader.remaining(), mask_stride * h));
        for (std::size_t row = 0; row < h; ++row) {
            const std::size_t row_start = row * mask_stride;
            if (row_start >= mask.size()) break;
            const auto bits = mask.subspan(row_start, std::min(mask_stride, mask.size() - row_start));
            const std::size_t covered = std::min(w, bits.size() * 8);
            std::uint8_t* pixel = out + (h - 1 - row) * w * 4;
            for (std::size_t x = 0; x < covered; ++x, pixel += 4) {
                if ((bits[x / 8] >> (7 - x % 8)) & 1) pixel[3] = 0;
            }
        }
    }
    return image;
}

}  // namespace

DecodeResult decode_dib(std::span<const std::uint8_t> data, std::size_t header_offset,
                        std::uint64_t pixel_offset, DibKind kind) {
    return decode_support::without_throwing(
        [&] { return decode_dib_checked(data, header_offset, pixel_offset, kind); });
}

DecodeResult decode_bmp(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    const auto magic = reader.take(2);
    reader.skip(8);  // file size, reserved
    const std::uint32_t pixel_offset = reader.le32();
    if (!reader.ok() || magic[0] != 'B' || magic[1] != 'M') return std::nullopt;
    return decode_dib(data, FILE_HEADER_SIZE, pixel_offset, DibKind::File);
}

}  // namespace pixmorf
