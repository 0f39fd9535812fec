#pragma once
// Pictures encoded by the codec libraries themselves, for decoder tests.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <spng.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace test_pictures {

struct EncoderFree {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};

// A PNG of the given header, encoded by libspng from `samples` (in the
// header's own layout: rows of packed samples, 16-bit ones big-endian),
// optionally with a tRNS chunk.
inline std::vector<std::uint8_t> encode_png(std::uint32_t width, std::uint32_t height, std::uint8_t color_type,
                                            std::uint8_t interlace, const std::vector<std::uint8_t>& samples,
                                            bool with_trns = false, std::uint8_t bit_depth = 8) {
    const std::unique_ptr<spng_ctx, EncoderFree> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = bit_depth;
    ihdr.color_type = color_type;
    ihdr.interlace_method = interlace;
    spng_set_ihdr(ctx.get(), &ihdr);
    if (with_trns) {
        spng_trns trns{};
        trns.red = samples[0];
        trns.green = samples[1];
        trns.blue = samples[2];
        spng_set_trns(ctx.get(), &trns);
    }
    const int status = spng_encode_image(ctx.get(), samples.data(), samples.size(), SPNG_FMT_PNG,
                                         SPNG_ENCODE_FINALIZE);
    EXPECT_EQ(status, 0) << spng_strerror(status);
    std::size_t size = 0;
    int error = 0;
    std::uint8_t* buffer = static_cast<std::uint8_t*>(spng_get_png_buffer(ctx.get(), &size, &error));
    EXPECT_EQ(error, 0);
    std::vector<std::uint8_t> png(buffer, buffer + size);
    std::free(buffer);
    return png;
}

// A JPEG of `components` (1 or 3) channels encoded by libjpeg.
inline std::vector<std::uint8_t> encode_jpeg(std::uint32_t width, std::uint32_t height, int components,
                                             const std::vector<std::uint8_t>& samples, bool progressive = false) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 80, TRUE);
    if (progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(samples.data()) + std::size_t{cinfo.next_scanline} * width * components;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> jpeg(buffer, buffer + size);
    std::free(buffer);
    return jpeg;
}

}  // namespace test_pictures
