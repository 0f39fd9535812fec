// Test tool: decodes an image file with the converter's decoders and writes
// "width height\n" and the raw RGBA bytes to standard output. With a second
// argument the bytes are decoded as that format name. On failure it prints
// the failure text to standard error and exits with status 1.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "converter/decode/image_input.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: decode_dump FILE [FORMAT]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<std::string_view> format;
    if (argc > 2) format = argv[2];
    auto result = pixmorf::decode_image_bytes(data, format);
    if (auto* error = std::get_if<std::string>(&result)) {
        std::fprintf(stderr, "%s\n", error->c_str());
        return 1;
    }
    const auto& image = std::get<glyph::RgbaRaster>(result);
    std::printf("%zu %zu\n", image.width, image.height);
    std::fflush(stdout);
    if (!image.pixels.empty()) std::fwrite(image.pixels.data(), 1, image.pixels.size(), stdout);
    return 0;
}
