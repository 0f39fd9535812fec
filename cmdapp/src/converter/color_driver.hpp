#pragma once
#include <cstdint>
#include <exception>
#include <functional>
#include <span>

#include "settings.hpp"

namespace pixmorf {

// Colour segmentation, stacked or cutout, with transparency keying.
ConvertOutcome convert_color(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params);

// The pixels of a picture that are still arriving (being decoded) while it
// is converted, all of them opaque: `fill` puts the first `count` pixels in
// place in the raster's bytes, waiting for them, and answers false when they
// cannot be had.
struct ArrivingPixels {
    std::function<bool(std::span<std::uint8_t> raster_bytes, std::uint64_t count)> fill;
};

// Thrown out of a conversion whose arriving pixels could not be had.
struct PixelsUnavailable : std::exception {
    const char* what() const noexcept override { return "the picture's pixels could not be had"; }
};

// Whether a conversion of an opaque picture of this size starts before all
// its pixels are in (otherwise it waits for them first).
bool converts_while_arriving(const Settings& settings, const ConversionParams& params, std::uint64_t width,
                             std::uint64_t height);

// convert_color() for a picture of `image`'s size whose pixels arrive
// through `arriving`.
ConvertOutcome convert_color(glyph::RgbaRaster image, const Settings& settings, const ConversionParams& params,
                             const ArrivingPixels& arriving);

}  // namespace pixmorf
