// Windows icons (.ico): the largest image of the directory is decoded.
//
// The entry chosen has the greatest width x height (0 in the directory means
// 256), ties going to the greater bit count and then to the first entry. Its
// payload is a PNG file or a bitmap without file header. In a bitmap payload
// of 32 bits the fourth byte is alpha and the AND mask is ignored; at lower
// depths every pixel is opaque except where the AND mask is set, where alpha
// becomes 0 and the colour is kept. The AND mask may be shorter than the
// picture or missing (some writers store it unpadded or not at all): pixels
// without a mask bit in the payload are opaque. The colour rows must be
// complete. A payload that fails to decode fails the whole icon; no other
// entry is tried.
#include <algorithm>
#include <array>

#include "bmp_dib.hpp"
#include "byte_reader.hpp"

namespace pixmorf {

namespace {

using decode_support::ByteReader;

constexpr std::array<std::uint8_t, 8> PNG_SIGNATURE = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

struct DirectoryEntry {
    std::uint64_t area = 0;
    std::uint16_t bit_count = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0;
};

}  // namespace

DecodeResult decode_ico(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    const std::uint16_t reserved = reader.le16();
    const std::uint16_t type = reader.le16();
    const std::uint16_t count = reader.le16();
    if (!reader.ok() || reserved != 0 || type != 1 || count == 0) return std::nullopt;

    std::optional<DirectoryEntry> best;
    for (std::uint16_t i = 0; i < count; ++i) {
        const std::uint8_t width = reader.u8();
        const std::uint8_t height = reader.u8();
        reader.skip(4);  // colour count, reserved, planes
        DirectoryEntry entry;
        entry.area = std::uint64_t{width == 0 ? 256u : width} * (height == 0 ? 256u : height);
        entry.bit_count = reader.le16();
        entry.size = reader.le32();
        entry.offset = reader.le32();
        if (!reader.ok()) return std::nullopt;
        if (!best || entry.area > best->area ||
            (entry.area == best->area && entry.bit_count > best->bit_count)) {
            best = entry;
        }
    }

    if (std::uint64_t{best->offset} + best->size > data.size()) return std::nullopt;
    const auto payload = data.subspan(best->offset, best->size);
    if (payload.size() >= PNG_SIGNATURE.size() &&
        std::equal(PNG_SIGNATURE.begin(), PNG_SIGNATURE.end(), payload.begin())) {
        return decode_png(payload);
    }
    return decode_dib(payload, 0, 0, DibKind::Icon);
}

}  // namespace pixmorf
