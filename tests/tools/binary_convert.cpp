// Test and benchmark tool: converts a PBM (P4) or 8-bit PGM (P5) picture in
// binary mode and writes the SVG document. Prints the wall and CPU seconds
// spent converting and rendering, the CPU seconds of the conversion alone
// (reading the input excluded; each the best of REPEAT runs) and the peak
// resident memory in KiB. An internal stop prints its
// message and exits with status 3.
//
//   binary_convert INPUT OUTPUT none|polygon|spline [FILTER_SPECKLE [REPEAT]]
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "converter/settings.hpp"
#include "converter/svg_document.hpp"
#include "failure.hpp"

namespace {

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Reads the next header number, skipping blanks and comments.
bool read_number(const std::vector<unsigned char>& data, std::size_t& at, std::size_t& value) {
    while (at < data.size() && (std::isspace(data[at]) || data[at] == '#')) {
        if (data[at] == '#') {
            while (at < data.size() && data[at] != '\n') ++at;
        } else {
            ++at;
        }
    }
    if (at >= data.size() || !std::isdigit(data[at])) return false;
    value = 0;
    while (at < data.size() && std::isdigit(data[at])) value = value * 10 + (data[at++] - '0');
    return true;
}

std::optional<glyph::RgbaRaster> read_netpbm(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 2 || data[0] != 'P' || (data[1] != '4' && data[1] != '5')) return std::nullopt;
    const bool bitmap = data[1] == '4';
    std::size_t at = 2, width = 0, height = 0, maxval = 1;
    if (!read_number(data, at, width) || !read_number(data, at, height)) return std::nullopt;
    if (!bitmap && (!read_number(data, at, maxval) || maxval != 255)) return std::nullopt;
    ++at;  // the single blank after the header
    const std::size_t row_bytes = bitmap ? (width + 7) / 8 : width;
    if (data.size() < at + row_bytes * height) return std::nullopt;
    glyph::RgbaRaster image = glyph::RgbaRaster::create(width, height);
    std::uint8_t* out = image.pixels.data();
    for (std::size_t y = 0; y < height; ++y) {
        const unsigned char* row = &data[at + y * row_bytes];
        for (std::size_t x = 0; x < width; ++x, out += 4) {
            const auto grey = static_cast<std::uint8_t>(bitmap ? ((row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255) : row[x]);
            out[0] = out[1] = out[2] = grey;
            out[3] = 255;
        }
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: binary_convert INPUT OUTPUT none|polygon|spline [FILTER_SPECKLE [REPEAT]]\n");
        return 2;
    }
    std::optional<glyph::RgbaRaster> image = read_netpbm(argv[1]);
    if (!image) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    pixmorf::Settings settings;
    settings.color_mode = pixmorf::ColorMode::Binary;
    const std::string mode = argv[3];
    settings.path_mode = mode == "none" ? glyph::PathMode::None
                         : mode == "polygon" ? glyph::PathMode::Polygon
                                             : glyph::PathMode::Spline;
    if (argc > 4) settings.filter_speckle = std::stoull(argv[4]);

    const int repeat = argc > 5 ? std::max(1, std::stoi(argv[5])) : 1;
    double seconds = 0.0;
    double cpu_seconds = 0.0;
    double convert_cpu_seconds = 0.0;  // without the SVG text
    std::string text;
    for (int run = 0; run < repeat; ++run) {
        glyph::RgbaRaster input = run + 1 < repeat ? *image : std::move(*image);
        const auto started = std::chrono::steady_clock::now();
        const double cpu_started = process_cpu_seconds();
        try {
            auto outcome = pixmorf::convert_image(std::move(input), settings);
            const double converted = process_cpu_seconds() - cpu_started;
            convert_cpu_seconds = run == 0 ? converted : std::min(convert_cpu_seconds, converted);
            text = pixmorf::render_svg_to_string(std::get<pixmorf::SvgDocument>(outcome));
        } catch (const glyph::InternalFailure& failure) {
            std::printf("%s\n", failure.message.c_str());
            return 3;
        }
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double cpu = process_cpu_seconds() - cpu_started;
        seconds = run == 0 ? elapsed : std::min(seconds, elapsed);
        cpu_seconds = run == 0 ? cpu : std::min(cpu_seconds, cpu);
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.6f %.6f %.6f %ld\n", seconds, cpu_seconds, convert_cpu_seconds, usage.ru_maxrss);
    return 0;
}
