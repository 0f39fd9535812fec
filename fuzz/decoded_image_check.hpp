#pragma once
// Shared by the decoder fuzz targets: a decoded picture must respect the
// decode limit and carry exactly width x height x channels samples of its
// depth, in the buffer of that depth only.
#include <cstdlib>

#include "converter/decode/decoded_image.hpp"

inline void check_decoded(const pixmorf::DecodeResult& result) {
    if (!result) return;
    const pixmorf::DecodedImage& image = *result;
    if (!pixmorf::within_decode_limit(image.width, image.height)) std::abort();
    const std::size_t samples = image.width * image.height * pixmorf::channel_count(image.layout);
    const bool wide = image.bits_per_channel == 16;
    if (!wide && image.bits_per_channel != 8) std::abort();
    if ((wide ? image.samples16.size() : image.samples8.size()) != samples) std::abort();
    if ((wide ? image.samples8.size() : image.samples16.size()) != 0) std::abort();
}
