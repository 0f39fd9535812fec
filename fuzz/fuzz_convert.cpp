// Fuzz target: the whole conversion of a small picture with arbitrary
// settings, then rendering of the document. Internal stops and the smoothing
// memory bound are expected outcomes; any other exception, a crash, a leak,
// undefined behaviour or a malformed document is a finding.
//
// Input layout, read front to back (missing bytes read as 0, so every input
// is valid and seeds are easy to write by hand):
//   flags     bit 0 binary, bit 1 cutout, bits 2-3 path mode (3 is spline),
//             bits 4-5 pixel encoding, bit 6 zero side with a long other
//             side, bit 7 call convert_image instead of convert_picture
//   options   one selector byte each, in the order filter_speckle,
//             color_precision, layer_difference, corner_threshold,
//             length_threshold, max_iterations, splice_threshold,
//             path_precision; a selector names an entry of the option's
//             table of edge values, or past the table reads the raw value
//             (little-endian, 8 or 4 bytes) that follows it
//   size      width byte, height byte (each modulo 49)
//   pixels    by encoding: 0 raw RGBA; 1 palette (count byte, RGBA entries,
//             then one index per pixel, two per byte); 2 runs of palette
//             entries (palette as in 1, then pairs of length and index
//             bytes); 3 one bit per pixel choosing black or white, with one
//             alpha byte for the whole picture
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "../glyphfoundry/src/failure.hpp"
#include "converter/convert_file.hpp"
#include "converter/settings.hpp"
#include "converter/svg_document.hpp"

namespace {

constexpr std::size_t MAX_SIDE = 48;

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

    std::uint8_t byte() { return position_ < data_.size() ? data_[position_++] : 0; }

    template <class Unsigned>
    Unsigned raw() {
        Unsigned value = 0;
        for (std::size_t i = 0; i < sizeof(Unsigned); ++i) value |= static_cast<Unsigned>(byte()) << (8 * i);
        return value;
    }

    bool exhausted() const { return position_ >= data_.size(); }

private:
    std::span<const std::uint8_t> data_;
    std::size_t position_ = 0;
};

// An entry of `edges` chosen by the selector byte, or a raw value after it.
template <class Value, class ReadRaw, std::size_t N>
Value pick(Reader& in, const Value (&edges)[N], ReadRaw read_raw) {
    const std::size_t selector = in.byte() % (N + 1);
    return selector < N ? edges[selector] : read_raw();
}

constexpr std::int32_t I32_MIN = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t I32_MAX = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t U64_MAX = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint32_t U32_MAX = std::numeric_limits<std::uint32_t>::max();
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

// The usual value first, then the ends of the range and other edges.
constexpr std::uint64_t FILTER_SPECKLE[] = {4, 0, 1, 2, 16, U32_MAX, std::uint64_t{1} << 32, U64_MAX};
constexpr std::int32_t COLOR_PRECISION[] = {6, 8, 1, 7, 9, 0, -1, I32_MIN, I32_MAX};
constexpr std::int32_t LAYER_DIFFERENCE[] = {16, 0, 1, 255, 256, -1, I32_MIN, I32_MAX};
constexpr std::int32_t CORNER_THRESHOLD[] = {60, 0, 1, 90, 180, -180, 360, I32_MIN, I32_MAX};
constexpr std::int32_t SPLICE_THRESHOLD[] = {45, 0, 1, 90, 180, -180, 360, I32_MIN, I32_MAX};
constexpr double LENGTH_THRESHOLD[] = {4.0,  0.0,       -0.0, -1.0, 0.5, 1.0,  1e-300,
                                       5e-324, 1e300, INF,  -INF, NAN_VALUE};
constexpr std::uint64_t MAX_ITERATIONS[] = {10, 0, 1, 2, 100, 1000000, std::uint64_t{1} << 32, U64_MAX};
constexpr std::uint64_t MAX_PASSES_BELOW_TWO = 6;
constexpr std::optional<std::uint32_t> PATH_PRECISION[] = {std::nullopt, 0, 1, 2, 3, 8, 17, 65535, 65536, U32_MAX};

pixmorf::Settings read_settings(Reader& in, std::uint8_t flags) {
    pixmorf::Settings settings;
    settings.color_mode = (flags & 1) ? pixmorf::ColorMode::Binary : pixmorf::ColorMode::Color;
    settings.hierarchy = (flags & 2) ? pixmorf::Hierarchy::Cutout : pixmorf::Hierarchy::Stacked;
    const unsigned mode = (flags >> 2) & 3;
    settings.path_mode = mode == 0 ? glyph::PathMode::None : mode == 1 ? glyph::PathMode::Polygon
                                                                      : glyph::PathMode::Spline;
    auto raw_u64 = [&] { return in.raw<std::uint64_t>(); };
    auto raw_i32 = [&] { return static_cast<std::int32_t>(in.raw<std::uint32_t>()); };
    settings.filter_speckle = pick(in, FILTER_SPECKLE, raw_u64);
    settings.color_precision = pick(in, COLOR_PRECISION, raw_i32);
    settings.layer_difference = pick(in, LAYER_DIFFERENCE, raw_i32);
    settings.corner_threshold = pick(in, CORNER_THRESHOLD, raw_i32);
    settings.length_threshold = pick(in, LENGTH_THRESHOLD, [&] {
        const std::uint64_t bits = in.raw<std::uint64_t>();
        double value;
        static_assert(sizeof value == sizeof bits);
        __builtin_memcpy(&value, &bits, sizeof value);
        return value;
    });
    settings.max_iterations = pick(in, MAX_ITERATIONS, raw_u64);
    settings.splice_threshold = pick(in, SPLICE_THRESHOLD, raw_i32);
    settings.path_precision =
        pick(in, PATH_PRECISION, [&]() -> std::optional<std::uint32_t> { return in.raw<std::uint32_t>(); });
    // Below a length threshold of about 2 every smoothing pass roughly doubles
    // the outline, so many passes run into the smoothing point budget: bounded
    // by design, yet seconds per input under the sanitizers, which would leave
    // little time for anything else. The budget has its own tests; here the
    // passes are capped for such thresholds (and any threshold still runs
    // with huge pass counts, where smoothing stops once edges are short).
    if (!(settings.length_threshold >= 2.0) && settings.max_iterations > MAX_PASSES_BELOW_TWO) {
        settings.max_iterations = MAX_PASSES_BELOW_TWO;
    }
    return settings;
}

std::vector<std::uint8_t> read_palette(Reader& in) {
    const std::size_t count = in.byte() % 8 + 1;
    std::vector<std::uint8_t> palette(count * 4);
    for (std::uint8_t& channel : palette) channel = in.byte();
    return palette;
}

void put_entry(std::uint8_t* pixel, const std::vector<std::uint8_t>& palette, std::size_t index) {
    const std::size_t entry = (index % (palette.size() / 4)) * 4;
    for (std::size_t c = 0; c < 4; ++c) pixel[c] = palette[entry + c];
}

std::vector<std::uint8_t> read_pixels(Reader& in, unsigned encoding, std::size_t count) {
    std::vector<std::uint8_t> pixels(count * 4);
    switch (encoding) {
        case 0:
            for (std::uint8_t& channel : pixels) channel = in.byte();
            break;
        case 1: {
            const auto palette = read_palette(in);
            std::uint8_t pair = 0;
            for (std::size_t p = 0; p < count; ++p) {
                if (p % 2 == 0) pair = in.byte();
                put_entry(&pixels[4 * p], palette, p % 2 == 0 ? pair & 15 : pair >> 4);
            }
            break;
        }
        case 2: {
            const auto palette = read_palette(in);
            std::size_t p = 0;
            while (p < count) {
                const std::size_t length = in.exhausted() ? count - p : std::size_t{in.byte()} + 1;
                const std::size_t index = in.byte();
                for (std::size_t k = 0; k < length && p < count; ++k, ++p) put_entry(&pixels[4 * p], palette, index);
            }
            break;
        }
        default: {
            const std::uint8_t alpha = in.byte();
            std::uint8_t bits = 0;
            for (std::size_t p = 0; p < count; ++p) {
                if (p % 8 == 0) bits = in.byte();
                const std::uint8_t grey = ((bits >> (p % 8)) & 1) ? 0 : 255;
                pixels[4 * p] = pixels[4 * p + 1] = pixels[4 * p + 2] = grey;
                pixels[4 * p + 3] = alpha;
            }
            break;
        }
    }
    return pixels;
}

[[noreturn]] void malformed(const char* what) {
    __builtin_fprintf(stderr, "malformed document: %s\n", what);
    std::abort();
}

void check_document(const std::string& text, std::size_t width, std::size_t height) {
    constexpr std::string_view HEADER =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- Generator: glyphfoundry Pixmorf 0.6.12 -->\n";
    const std::string root = "<svg version=\"1.1\" xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                             std::to_string(width) + "\" height=\"" + std::to_string(height) + "\">\n";
    if (!std::string_view(text).starts_with(HEADER)) malformed("header");
    if (std::string_view(text).substr(HEADER.size(), root.size()) != root) malformed("root element");
    if (!std::string_view(text).ends_with("</svg>\n")) malformed("closing line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in({data, size});
    const std::uint8_t flags = in.byte();
    const pixmorf::Settings settings = read_settings(in, flags);

    std::size_t width = in.byte() % (MAX_SIDE + 1);
    std::size_t height = in.byte() % (MAX_SIDE + 1);
    if (flags & 0x40) {
        // No pixels, and a side that no stage may loop over.
        constexpr std::size_t LONG_SIDES[] = {0, 1, 48, std::size_t{1} << 32, std::numeric_limits<std::size_t>::max()};
        const std::size_t long_side = LONG_SIDES[height % std::size(LONG_SIDES)];
        if (width % 2) {
            width = 0;
            height = long_side;
        } else {
            width = long_side;
            height = 0;
        }
    }

    glyph::RgbaRaster image;
    image.width = width;
    image.height = height;
    if (width != 0 && height != 0) image.pixels = read_pixels(in, (flags >> 4) & 3, width * height);

    try {
        pixmorf::ConvertOutcome outcome = (flags & 0x80) ? pixmorf::convert_image(std::move(image), settings)
                                                         : pixmorf::convert_picture(std::move(image), settings);
        if (const auto* document = std::get_if<pixmorf::SvgDocument>(&outcome)) {
            if (document->width != width || document->height != height) malformed("size");
            check_document(pixmorf::render_svg_to_string(*document), width, height);
        } else if (std::get<pixmorf::ErrorText>(outcome).text !=
                   "unable to find unused color in image to use as key") {
            malformed("unexpected error text");
        }
    } catch (const glyph::InternalFailure&) {
        // An internal stop: "overflow", "STUCK: ...", an assertion, a path-data limit.
    } catch (const glyph::MemoryLimitExceeded&) {
        // Smoothing refused to create more points.
    }
    return 0;
}
