// TIFF through libtiff, first directory only. Grey, grey+alpha, RGB and RGBA
// with 8 or 16 bits per sample are read sample by sample (strips or tiles,
// contiguous or planar), keeping the stored values: 16-bit samples stay 16
// bits and premultiplied alpha stays premultiplied. Everything else (palette,
// bilevel, YCbCr, CMYK, other depths...) goes through libtiff's RGBA reader.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "decoded_image.hpp"
#include "without_throwing.hpp"

namespace pixmorf {

namespace {

struct MemoryFile {
    std::span<const std::uint8_t> data;
    std::uint64_t position = 0;
};

tmsize_t read_memory(thandle_t handle, void* out, tmsize_t size) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->position >= file->data.size()) return 0;
    const std::uint64_t available = file->data.size() - file->position;
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(available, static_cast<std::uint64_t>(size)));
    std::memcpy(out, file->data.data() + file->position, count);
    file->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t refuse_write(thandle_t, void*, tmsize_t) { return -1; }

toff_t seek_memory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    std::uint64_t base = 0;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = file->position; break;
        case SEEK_END: base = file->data.size(); break;
        default: return static_cast<toff_t>(-1);
    }
    if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
    file->position = base + offset;  // past the end is allowed; reads there return nothing
    return file->position;
}

int close_memory(thandle_t) { return 0; }

toff_t size_of_memory(thandle_t handle) { return static_cast<MemoryFile*>(handle)->data.size(); }

// Declining the mapping makes libtiff copy what it reads, so it never sees
// (or could write to) the caller's buffer directly.
int refuse_map(thandle_t, void**, toff_t*) { return 0; }
void nothing_to_unmap(thandle_t, void*, toff_t) {}

// libtiff's messages never reach the user: handled means not printed.
int swallow_message(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffClose {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffClose>;

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// No single buffer, libtiff's or a row or tile of ours, needs to exceed the
// largest accepted picture (16-bit RGBA). Row and tile buffers are left
// uninitialised: a file that declares huge ones but holds little data fails
// without the memory ever being touched.
constexpr std::uint64_t MAX_BUFFER_BYTES = MAX_DECODED_PIXELS * 8;
constexpr tmsize_t MAX_LIBRARY_ALLOCATION = static_cast<tmsize_t>(MAX_BUFFER_BYTES);

TiffHandle open_tiff(MemoryFile& file) {
    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), swallow_message, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), swallow_message, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), MAX_LIBRARY_ALLOCATION);
    return TiffHandle(TIFFClientOpenExt("memory", "r", &file, read_memory, refuse_write, seek_memory,
                                        close_memory, size_of_memory, refuse_map, nothing_to_unmap,
                                        options.get()));
}

// How the stored samples map onto the output layout.
struct SampleMap {
    PixelLayout layout = PixelLayout::Rgba;
    std::size_t color_channels = 0;    // 1 grey, 3 RGB
    std::size_t samples_per_pixel = 0;  // stored, including extra samples
    bool has_alpha = false;            // the first extra sample is alpha
    bool invert_grey = false;          // MINISWHITE: 0 is white
    // Output channel c is stored sample c: colours first, then the alpha.
    std::size_t output_channels() const { return color_channels + (has_alpha ? 1 : 0); }
};

// Sample layouts read directly; nullopt sends the file to the RGBA reader.
std::optional<SampleMap> direct_sample_map(TIFF* tif, std::uint16_t bits) {
    if (bits != 8 && bits != 16) return std::nullopt;
    std::uint16_t sample_format = SAMPLEFORMAT_UINT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sample_format);
    if (sample_format != SAMPLEFORMAT_UINT) return std::nullopt;
    std::uint16_t photometric = 0;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return std::nullopt;
    std::uint16_t samples_per_pixel = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples_per_pixel);

    SampleMap map;
    switch (photometric) {
        case PHOTOMETRIC_MINISBLACK: map.color_channels = 1; break;
        case PHOTOMETRIC_MINISWHITE: map.color_channels = 1; map.invert_grey = true; break;
        case PHOTOMETRIC_RGB: map.color_channels = 3; break;
        default: return std::nullopt;
    }
    if (samples_per_pixel < map.color_channels) return std::nullopt;
    map.samples_per_pixel = samples_per_pixel;

    std::uint16_t extra_count = 0;
    std::uint16_t* extra_types = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra_types);
    if (samples_per_pixel > map.color_channels && extra_count > 0 && extra_types != nullptr) {
        // Like libtiff's RGBA reader: an unspecified extra sample counts as
        // alpha once there are more than three samples.
        const std::uint16_t type = extra_types[0];
        map.has_alpha = type == EXTRASAMPLE_ASSOCALPHA || type == EXTRASAMPLE_UNASSALPHA ||
                        (type == EXTRASAMPLE_UNSPECIFIED && samples_per_pixel > 3);
    }
    if (map.color_channels == 1) {
        map.layout = map.has_alpha ? PixelLayout::GreyAlpha : PixelLayout::Grey;
    } else {
        map.layout = map.has_alpha ? PixelLayout::Rgba : PixelLayout::Rgb;
    }
    return map;
}

template <class Sample>
Sample load_sample(const std::uint8_t* bytes, std::size_t index) {
    Sample value;
    std::memcpy(&value, bytes + index * sizeof(Sample), sizeof(Sample));
    return value;
}

// Reads the stored samples into `out` (width x height x output channels).
template <class Sample>
bool read_direct(TIFF* tif, const SampleMap& map, std::size_t width, std::size_t height, std::vector<Sample>& out) {
    const std::size_t channels = map.output_channels();
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    const bool separate = planar == PLANARCONFIG_SEPARATE;
    const std::size_t stored_per_pixel = separate ? 1 : map.samples_per_pixel;
    // Planar files hold one plane per stored sample (the ones used are read);
    // contiguous ones a single plane.
    const std::size_t planes = separate ? channels : 1;
    // Copies one run of `count` pixels starting at stored pixel `from` into
    // output pixel `to`, for the channels held by `plane`.
    auto copy_pixels = [&](const std::uint8_t* source, std::size_t from, std::size_t to, std::size_t count,
                           std::size_t plane) {
        for (std::size_t i = 0; i < count; ++i) {
            Sample* pixel = out.data() + (to + i) * channels;
            if (separate) {
                pixel[plane] = load_sample<Sample>(source, from + i);
            } else {
                for (std::size_t c = 0; c < channels; ++c) {
                    pixel[c] = load_sample<Sample>(source, (from + i) * stored_per_pixel + c);
                }
            }
        }
    };

    if (TIFFIsTiled(tif)) {
        std::uint32_t tile_width = 0, tile_height = 0;
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tile_width) || !TIFFGetField(tif, TIFFTAG_TILELENGTH, &tile_height) ||
            tile_width == 0 || tile_height == 0) {
            return false;
        }
        const std::uint64_t tile_bytes = std::uint64_t{tile_width} * tile_height * stored_per_pixel * sizeof(Sample);
        const std::uint64_t tile_size = TIFFTileSize64(tif);
        if (tile_size < tile_bytes || tile_size > MAX_BUFFER_BYTES) return false;
        const auto tile = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(tile_size));
        for (std::size_t plane = 0; plane < planes; ++plane) {
            for (std::size_t y = 0; y < height; y += tile_height) {
                for (std::size_t x = 0; x < width; x += tile_width) {
                    if (TIFFReadTile(tif, tile.get(), static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y), 0,
                                     static_cast<std::uint16_t>(plane)) < 0) {
                        return false;
                    }
                    const std::size_t rows = std::min<std::size_t>(tile_height, height - y);
                    const std::size_t columns = std::min<std::size_t>(tile_width, width - x);
                    for (std::size_t r = 0; r < rows; ++r) {
                        copy_pixels(tile.get(), r * tile_width, (y + r) * width + x, columns, plane);
                    }
                }
            }
        }
    } else {
        const std::uint64_t row_bytes = std::uint64_t{width} * stored_per_pixel * sizeof(Sample);
        const std::uint64_t row_size = TIFFScanlineSize64(tif);
        if (row_size < row_bytes || row_size > MAX_BUFFER_BYTES) return false;
        const auto row = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(row_size));
        for (std::size_t plane = 0; plane < planes; ++plane) {
            for (std::size_t y = 0; y < height; ++y) {
                if (TIFFReadScanline(tif, row.get(), static_cast<std::uint32_t>(y),
                                     static_cast<std::uint16_t>(plane)) < 0) {
                    return false;
                }
                copy_pixels(row.get(), 0, y * width, width, plane);
            }
        }
    }
    if (map.invert_grey) {
        constexpr Sample white = static_cast<Sample>(~Sample{0});
        for (std::size_t i = 0; i < out.size(); i += channels) out[i] = static_cast<Sample>(white - out[i]);
    }
    return true;
}

// libtiff's RGBA reader: 8-bit RGBA, top row first. Note that it scales
// 16-bit samples and premultiplies unassociated alpha on its own.
bool read_through_rgba(TIFF* tif, std::size_t width, std::size_t height, std::vector<std::uint8_t>& out) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) return false;
    std::vector<std::uint32_t> raster(width * height);
    if (!TIFFReadRGBAImageOriented(tif, static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                                   raster.data(), ORIENTATION_TOPLEFT, 1)) {
        return false;
    }
    out.resize(width * height * 4);
    for (std::size_t i = 0; i < raster.size(); ++i) {
        const std::uint32_t abgr = raster[i];
        out[4 * i] = static_cast<std::uint8_t>(TIFFGetR(abgr));
        out[4 * i + 1] = static_cast<std::uint8_t>(TIFFGetG(abgr));
        out[4 * i + 2] = static_cast<std::uint8_t>(TIFFGetB(abgr));
        out[4 * i + 3] = static_cast<std::uint8_t>(TIFFGetA(abgr));
    }
    return true;
}

DecodeResult decode_tiff_unchecked(std::span<const std::uint8_t> data) {
    MemoryFile file{data};
    TiffHandle tif = open_tiff(file);
    if (!tif) return std::nullopt;

    std::uint32_t width = 0, height = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height)) {
        return std::nullopt;
    }
    if (!within_decode_limit(width, height)) return std::nullopt;
    std::uint16_t bits = 1;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);

    DecodedImage image;
    image.width = width;
    image.height = height;
    if (width == 0 || height == 0) {
        image.layout = PixelLayout::Rgba;
        return image;
    }
    if (const auto map = direct_sample_map(tif.get(), bits)) {
        image.layout = map->layout;
        const std::size_t sample_count = std::size_t{width} * height * map->output_channels();
        if (bits == 16) {
            image.bits_per_channel = 16;
            image.samples16.resize(sample_count);
            if (!read_direct(tif.get(), *map, width, height, image.samples16)) return std::nullopt;
        } else {
            image.samples8.resize(sample_count);
            if (!read_direct(tif.get(), *map, width, height, image.samples8)) return std::nullopt;
        }
        return image;
    }
    image.layout = PixelLayout::Rgba;
    if (!read_through_rgba(tif.get(), width, height, image.samples8)) return std::nullopt;
    return image;
}

}  // namespace

DecodeResult decode_tiff(std::span<const std::uint8_t> data) {
    return decode_support::without_throwing([&] { return decode_tiff_unchecked(data); });
}

}  // namespace pixmorf
