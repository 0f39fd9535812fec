// WebP through libwebp: lossy, lossless, with or without alpha. Of an
// animation, the first frame as shown on its canvas.
#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "decoded_image.hpp"
#include "without_throwing.hpp"

namespace pixmorf {

namespace {

struct AnimDecoderDelete {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimDecoder = std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete>;

DecodedImage rgba_image(std::size_t width, std::size_t height) {
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.layout = PixelLayout::Rgba;
    image.bits_per_channel = 8;
    image.samples8.resize(width * height * 4);
    return image;
}

// The library composites the first frame onto a transparent canvas.
DecodeResult decode_first_frame(std::span<const std::uint8_t> data) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return std::nullopt;
    options.color_mode = MODE_RGBA;  // straight, not premultiplied, alpha
    options.use_threads = 0;
    const WebPData webp_data{data.data(), data.size()};
    AnimDecoder decoder(WebPAnimDecoderNew(&webp_data, &options));
    if (!decoder) return std::nullopt;
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info)) return std::nullopt;
    if (!within_decode_limit(info.canvas_width, info.canvas_height)) return std::nullopt;
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderHasMoreFrames(decoder.get())) return std::nullopt;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) return std::nullopt;
    DecodedImage image = rgba_image(info.canvas_width, info.canvas_height);
    if (!image.samples8.empty()) std::memcpy(image.samples8.data(), canvas, image.samples8.size());
    return image;
}

DecodeResult decode_webp_unchecked(std::span<const std::uint8_t> data) {
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK) return std::nullopt;
    if (features.width <= 0 || features.height <= 0) return std::nullopt;
    // For an animation this is the canvas: checked before the decoder allocates it.
    if (!within_decode_limit(static_cast<std::size_t>(features.width), static_cast<std::size_t>(features.height))) {
        return std::nullopt;
    }
    if (features.has_animation) return decode_first_frame(data);

    DecodedImage image = rgba_image(static_cast<std::size_t>(features.width),
                                    static_cast<std::size_t>(features.height));
    const int stride = features.width * 4;
    if (WebPDecodeRGBAInto(data.data(), data.size(), image.samples8.data(), image.samples8.size(), stride) ==
        nullptr) {
        return std::nullopt;
    }
    return image;
}

}  // namespace

DecodeResult decode_webp(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_webp_unchecked(data); });
}

}  // namespace pixmorf
