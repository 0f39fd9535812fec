// Test tool: decodes every proper prefix of a file (lengths 0 to size - 1) as
// the given format and prints, for each prefix that decoded, a line
// "length width height rgba" with the RGBA bytes in hexadecimal. A complete
// file whose format has no optional trailer should print nothing.
//
// With SIZE_OFFSET, each prefix that still holds the 32-bit little-endian
// length field at that offset has the field lowered by the number of bytes
// cut off, so that a container entry reaching to the end of the file (such as
// the last image of an icon) is cut rather than left pointing past the end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "converter/decode/image_input.hpp"

namespace {

std::uint32_t load_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void store_le32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: decode_prefixes FILE FORMAT [SIZE_OFFSET]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string_view format = argv[2];
    const bool follow_size = argc == 4;
    const std::size_t size_offset = follow_size ? std::strtoull(argv[3], nullptr, 10) : 0;
    for (std::size_t length = 0; length < data.size(); ++length) {
        std::vector<std::uint8_t> prefix(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
        if (follow_size && size_offset + 4 <= length) {
            const std::uint32_t size = load_le32(prefix.data() + size_offset);
            store_le32(prefix.data() + size_offset, size - static_cast<std::uint32_t>(data.size() - length));
        }
        const auto result = pixmorf::decode_image_bytes(prefix, format);
        const auto* image = std::get_if<glyph::RgbaRaster>(&result);
        if (image == nullptr) continue;
        std::printf("%zu %zu %zu ", length, image->width, image->height);
        for (const std::uint8_t byte : image->pixels) std::printf("%02x", byte);
        std::printf("\n");
    }
    return 0;
}
