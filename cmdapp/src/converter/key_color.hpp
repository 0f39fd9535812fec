#pragma once
// Transparency keying: whether a picture needs it and which unused colour
// stands in for its transparent pixels.
#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>

#include "../../../glyphfoundry/src/color/color.hpp"
#include "../../../glyphfoundry/src/image/format/rgba_raster.hpp"
#include "settings.hpp"

namespace pixmorf {

inline constexpr std::array<glyph::Color, 6> KEY_CANDIDATE_COLORS = {{
    {255, 0, 0, 255},
    {0, 255, 0, 255},
    {0, 0, 255, 255},
    {255, 255, 0, 255},
    {0, 255, 255, 255},
    {255, 0, 255, 255},
}};

inline constexpr const char* NO_KEY_COLOR_TEXT = "unable to find unused color in image to use as key";

// wyrand: a 64-bit state, one 128-bit multiply per output.
struct Wyrand {
    std::uint64_t state = 0;
    std::uint64_t next();
};

// One output of this thread's generator, which is seeded on first use from
// the time and the thread's identity.
std::uint64_t next_thread_seed();

// True when the five sampled rows hold at least 40 % of a row's width in
// fully transparent pixels (counted over all five rows).
bool needs_keying(const glyph::RgbaRaster& image);
// needs_keying() for a picture of that size whose pixels are all opaque:
// true only when the count to reach is zero, for the narrowest pictures.
bool opaque_picture_needs_keying(std::size_t width, std::size_t height);

// The first of the six fixed candidates, then of six drawn from `generator`,
// whose red, green and blue occur in no pixel; alpha 255.
std::variant<glyph::Color, ErrorText> pick_key_color(const glyph::RgbaRaster& image, Wyrand& generator);
// The same with a generator of its own, seeded from this thread's generator.
std::variant<glyph::Color, ErrorText> pick_key_color(const glyph::RgbaRaster& image);

}  // namespace pixmorf
