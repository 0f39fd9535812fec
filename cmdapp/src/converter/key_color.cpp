#include "key_color.hpp"

#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <thread>

namespace pixmorf {

namespace {

// High and low halves of the full 128-bit product of a and b.
void multiply_128(std::uint64_t a, std::uint64_t b, std::uint64_t& high, std::uint64_t& low) {
    const std::uint64_t a_lo = a & 0xFFFFFFFFu;
    const std::uint64_t a_hi = a >> 32;
    const std::uint64_t b_lo = b & 0xFFFFFFFFu;
    const std::uint64_t b_hi = b >> 32;
    const std::uint64_t lo_lo = a_lo * b_lo;
    const std::uint64_t hi_lo = a_hi * b_lo;
    const std::uint64_t lo_hi = a_lo * b_hi;
    const std::uint64_t hi_hi = a_hi * b_hi;
    const std::uint64_t middle = (lo_lo >> 32) + (hi_lo & 0xFFFFFFFFu) + lo_hi;
    high = hi_hi + (hi_lo >> 32) + (middle >> 32);
    low = (middle << 32) | (lo_lo & 0xFFFFFFFFu);
}

std::uint64_t mix64(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
}

bool color_occurs(const glyph::RgbaRaster& image, glyph::Color candidate) {
    const std::size_t count = image.pixel_count();
    const std::uint8_t* p = image.pixels.data();
    for (std::size_t i = 0; i < count; ++i, p += 4) {
        if (p[0] == candidate.r && p[1] == candidate.g && p[2] == candidate.b) return true;
    }
    return false;
}

}  // namespace

std::uint64_t Wyrand::next() {
    state += 0x2d358dccaa6c78a5u;
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    multiply_128(state, state ^ 0x8bb84b93962eacc9u, high, low);
    return high ^ low;
}

std::uint64_t next_thread_seed() {
    thread_local std::optional<Wyrand> generator;
    if (!generator) {
        const auto now = static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        const std::uint64_t thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
        generator = Wyrand{mix64(now) ^ mix64(thread + 0x9e3779b97f4a7c15u)};
    }
    return generator->next();
}

namespace {

// 40 % of the width, in 32-bit float arithmetic, truncated.
std::uint64_t keying_threshold(std::size_t width) {
    const float scaled = static_cast<float>(std::uint64_t{2} * width) * 0.2f;
    if (scaled >= 18446744073709551616.0f) return std::numeric_limits<std::uint64_t>::max();
    if (scaled > 0.0f) return static_cast<std::uint64_t>(scaled);
    return 0;
}

}  // namespace

bool opaque_picture_needs_keying(std::size_t width, std::size_t height) {
    if (width == 0 || height == 0) return false;
    return keying_threshold(width) == 0;
}

bool needs_keying(const glyph::RgbaRaster& image) {
    const std::size_t width = image.width;
    const std::size_t height = image.height;
    if (width == 0 || height == 0) return false;
    const std::uint64_t threshold = keying_threshold(width);

    const std::size_t rows[5] = {0, height / 4, height / 2, (3 * height) / 4, height - 1};
    std::uint64_t transparent = 0;
    for (std::size_t y : rows) {
        const std::uint8_t* p = &image.pixels[4 * (y * width)];
        for (std::size_t x = 0; x < width; ++x, p += 4) {
            if (p[3] == 0) ++transparent;
            if (transparent >= threshold) return true;
        }
    }
    return false;
}

std::variant<glyph::Color, ErrorText> pick_key_color(const glyph::RgbaRaster& image, Wyrand& generator) {
    for (const glyph::Color& candidate : KEY_CANDIDATE_COLORS) {
        if (!color_occurs(image, candidate)) return candidate;
    }
    for (int attempt = 0; attempt < 6; ++attempt) {
        glyph::Color candidate;
        candidate.r = static_cast<std::uint8_t>(generator.next());
        candidate.g = static_cast<std::uint8_t>(generator.next());
        candidate.b = static_cast<std::uint8_t>(generator.next());
        candidate.a = 255;
        if (!color_occurs(image, candidate)) return candidate;
    }
    return ErrorText{NO_KEY_COLOR_TEXT};
}

std::variant<glyph::Color, ErrorText> pick_key_color(const glyph::RgbaRaster& image) {
    Wyrand generator{next_thread_seed()};
    return pick_key_color(image, generator);
}

}  // namespace pixmorf
