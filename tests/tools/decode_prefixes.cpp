// Test tool: decodes every proper prefix of a file (lengths 0 to size - 1) as
// the given format and prints the lengths that decoded, one per line. A
// complete file whose format has no optional trailer should print nothing.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "converter/decode/image_input.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: decode_prefixes FILE FORMAT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string_view format = argv[2];
    for (std::size_t length = 0; length < data.size(); ++length) {
        const auto result = pixmorf::decode_image_bytes(std::span(data).first(length), format);
        if (std::holds_alternative<glyph::RgbaRaster>(result)) std::printf("%zu\n", length);
    }
    return 0;
}
