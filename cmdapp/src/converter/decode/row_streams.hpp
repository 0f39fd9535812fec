#pragma once
// Decoders that deliver an opaque picture row by row, top row first, as
// 8-bit RGBA: for a conversion that starts on the first rows while the
// others are still being decoded. They accept exactly the files the
// whole-picture decoders accept, with the same pixels.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace pixmorf {

struct StreamSize {
    std::size_t width = 0;
    std::size_t height = 0;
};

// Told the number of rows decoded so far after every row; false stops
// decoding (which then fails).
using RowProgress = std::function<bool(std::size_t rows_done)>;

// The size of `data` when it is a PNG that can be streamed: 8-bit
// truecolour, not interlaced, without a transparent colour.
std::optional<StreamSize> png_stream_size(std::span<const std::uint8_t> data);
// Decodes such a PNG into `rgba` (4 * width * height bytes); whether it
// decoded completely.
bool decode_png_rows(std::span<const std::uint8_t> data, std::span<std::uint8_t> rgba, const RowProgress& progress);

// The size of `data` when it is a JPEG that can be streamed: a colour
// (not grey, not CMYK) picture.
std::optional<StreamSize> jpeg_stream_size(std::span<const std::uint8_t> data);
bool decode_jpeg_rows(std::span<const std::uint8_t> data, std::span<std::uint8_t> rgba, const RowProgress& progress);

}  // namespace pixmorf
