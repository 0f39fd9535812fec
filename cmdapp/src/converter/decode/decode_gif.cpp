// GIF through giflib: the first frame drawn onto a logical screen of
// transparent black. Later frames are never read.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "decoded_image.hpp"
#include "without_throwing.hpp"

namespace pixmorf {

namespace {

struct MemorySource {
    std::span<const std::uint8_t> data;
    std::size_t position = 0;
};

int read_from_memory(GifFileType* gif, GifByteType* out, int length) {
    auto* source = static_cast<MemorySource*>(gif->UserData);
    if (length <= 0) return 0;
    const std::size_t available = source->data.size() - source->position;
    const std::size_t count = std::min(available, static_cast<std::size_t>(length));
    if (count > 0) std::memcpy(out, source->data.data() + source->position, count);
    source->position += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};
using GifFile = std::unique_ptr<GifFileType, GifCloser>;

// The transparent index of a graphics control extension, or -1.
// Layout: block size 4, packed flags, delay (2 bytes), transparent index.
int transparent_index_of(const GifByteType* block) {
    if (block == nullptr || block[0] != 4) return -1;
    return (block[1] & 0x01) ? block[4] : -1;
}

// Reads all data blocks of one extension; a graphics control extension sets
// the transparent index for the image that follows. False on a read error.
bool read_extension(GifFileType* gif, int* transparent_index) {
    int code = 0;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE) *transparent_index = transparent_index_of(block);
    while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

// Row of the frame that the n-th decoded line belongs to.
std::size_t frame_row_of_line(std::size_t line, std::size_t frame_height, bool interlaced) {
    if (!interlaced) return line;
    // Passes: every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
    constexpr std::size_t starts[] = {0, 4, 2, 1};
    constexpr std::size_t steps[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const std::size_t rows_in_pass =
            frame_height > starts[pass] ? (frame_height - starts[pass] + steps[pass] - 1) / steps[pass] : 0;
        if (line < rows_in_pass) return starts[pass] + line * steps[pass];
        line -= rows_in_pass;
    }
    return frame_height;  // unreachable for line < frame_height
}

DecodeResult decode_gif_unchecked(std::span<const std::uint8_t> data) {
    MemorySource source{data};
    int open_error = 0;
    GifFile gif(DGifOpen(&source, read_from_memory, &open_error));
    if (!gif) return std::nullopt;

    const std::size_t screen_width = static_cast<std::size_t>(std::max(gif->SWidth, 0));
    const std::size_t screen_height = static_cast<std::size_t>(std::max(gif->SHeight, 0));
    if (!within_decode_limit(screen_width, screen_height)) return std::nullopt;

    int transparent_index = -1;
    for (;;) {
        GifRecordType record = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) return std::nullopt;
        if (record == EXTENSION_RECORD_TYPE) {
            if (!read_extension(gif.get(), &transparent_index)) return std::nullopt;
            continue;
        }
        if (record != IMAGE_DESC_RECORD_TYPE) return std::nullopt;  // no image before the trailer
        break;
    }
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return std::nullopt;

    const GifImageDesc& frame = gif->Image;
    const ColorMapObject* color_map = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
    if (color_map == nullptr || color_map->Colors == nullptr) return std::nullopt;
    if (frame.Left < 0 || frame.Top < 0 || frame.Width < 0 || frame.Height < 0) return std::nullopt;
    const std::size_t frame_width = static_cast<std::size_t>(frame.Width);
    const std::size_t frame_height = static_cast<std::size_t>(frame.Height);
    // Every frame pixel is decoded even where it falls off the screen.
    if (!within_decode_limit(frame_width, frame_height)) return std::nullopt;

    DecodedImage image;
    image.width = screen_width;
    image.height = screen_height;
    image.layout = PixelLayout::Rgba;
    image.bits_per_channel = 8;
    image.samples8.assign(screen_width * screen_height * 4, 0);

    const std::size_t left = static_cast<std::size_t>(frame.Left);
    const std::size_t top = static_cast<std::size_t>(frame.Top);
    const std::size_t visible_width = left < screen_width ? std::min(frame_width, screen_width - left) : 0;
    const int color_count = std::max(color_map->ColorCount, 0);
    if (frame_width == 0 || frame_height == 0) return image;
    std::vector<GifPixelType> line(frame_width);
    for (std::size_t n = 0; n < frame_height; ++n) {
        if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return std::nullopt;
        const std::size_t y = top + frame_row_of_line(n, frame_height, frame.Interlace);
        // Off the screen: no pointer into the pixels may be formed (there may be none).
        if (y >= screen_height || visible_width == 0) continue;
        std::uint8_t* out = image.samples8.data() + (y * screen_width + left) * 4;
        for (std::size_t x = 0; x < visible_width; ++x, out += 4) {
            const int index = line[x];
            if (index == transparent_index) continue;  // the screen shows through
            if (index < color_count) {
                const GifColorType& color = color_map->Colors[index];
                out[0] = color.Red;
                out[1] = color.Green;
                out[2] = color.Blue;
            } else {
                out[0] = out[1] = out[2] = 0;  // outside the colour map: black
            }
            out[3] = 255;
        }
    }
    return image;
}

}  // namespace

DecodeResult decode_gif(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_gif_unchecked(data); });
}

}  // namespace pixmorf
