#include "convert_encoded.hpp"

#include <exception>
#include <new>
#include <utility>

#include "binary_driver.hpp"
#include "color_driver.hpp"
#include "convert_file.hpp"
#include "decode/row_decoder.hpp"

namespace pixmorf {

namespace {

std::optional<ConvertOutcome> convert_while_decoding(const std::vector<std::uint8_t>& encoded, InputFormat format,
                                                     StreamSize size, const Settings& settings,
                                                     const ConversionParams& params) {
    RowDecoder rows(format, encoded, size);
    glyph::RgbaRaster image;
    try {
        image = glyph::RgbaRaster::create(rows.width(), rows.height());
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // as the decoder reports a picture it has no memory for
    }
    const ArrivingPixels arriving{
        [&rows](std::span<std::uint8_t> raster_bytes, std::uint64_t count) {
            return rows.copy_pixels(raster_bytes, count);
        }};
    std::optional<ConvertOutcome> outcome;
    std::exception_ptr failure;
    try {
        outcome = convert_color(std::move(image), settings, params, arriving);
    } catch (const PixelsUnavailable&) {
    } catch (...) {
        failure = std::current_exception();
    }
    // A picture that does not decode fails as such, whatever its conversion
    // met on the rows before.
    if (!rows.succeeded()) return std::nullopt;
    if (failure) std::rethrow_exception(failure);
    return outcome;
}

}  // namespace

std::optional<ConvertOutcome> decode_and_convert(std::vector<std::uint8_t> encoded, InputFormat format,
                                                 const Settings& settings) {
    if (settings.color_mode == ColorMode::Color) {
        if (const auto size = RowDecoder::streamable_size(format, encoded)) {
            const ConversionParams params = conversion_params(settings);
            if (converts_while_arriving(settings, params, size->width, size->height)) {
                return convert_while_decoding(encoded, format, *size, settings, params);
            }
        }
    }
    if (settings.color_mode == ColorMode::Binary) {
        // Binary mode looks only at which pixels are dark: found from the
        // decoded samples, without the RGBA picture (four bytes a pixel).
        std::optional<glyph::BitRaster> dark = decode_dark_pixels(format, encoded);
        std::vector<std::uint8_t>().swap(encoded);
        if (!dark) return std::nullopt;
        if (dark->has_no_pixels()) {
            glyph::RgbaRaster empty;
            empty.width = dark->width;
            empty.height = dark->height;
            return convert_picture(std::move(empty), settings);
        }
        return convert_binary(std::move(*dark), settings, conversion_params(settings));
    }
    std::optional<glyph::RgbaRaster> image = decode_picture(format, encoded);
    std::vector<std::uint8_t>().swap(encoded);
    if (!image) return std::nullopt;
    return convert_picture(std::move(*image), settings);
}

}  // namespace pixmorf
