#include "png_rows.hpp"

#include <spng.h>

#include <algorithm>
#include <cstring>

#include "decoded_image.hpp"

namespace pixmorf {

namespace {

// The same limits as the whole-picture decoder, so that both accept the
// same files.
constexpr std::size_t MAX_CHUNK_BYTES = 16u << 20;
constexpr std::size_t MAX_CHUNK_CACHE_BYTES = 64u << 20;

struct Header {
    std::size_t width = 0;
    std::size_t height = 0;
};

// A context reading `data`, and its header when it is a PNG whose rows can
// be streamed.
std::optional<Header> open_streamable(spng_ctx* ctx, std::span<const std::uint8_t> data) {
    if (ctx == nullptr) return std::nullopt;
    if (spng_set_chunk_limits(ctx, MAX_CHUNK_BYTES, MAX_CHUNK_CACHE_BYTES) != 0) return std::nullopt;
    if (spng_set_png_buffer(ctx, data.data(), data.size()) != 0) return std::nullopt;
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) != 0) return std::nullopt;
    if (ihdr.color_type != SPNG_COLOR_TYPE_TRUECOLOR || ihdr.bit_depth != 8 || ihdr.interlace_method != 0) {
        return std::nullopt;
    }
    if (!within_decode_limit(ihdr.width, ihdr.height)) return std::nullopt;
    spng_trns trns{};
    if (spng_get_trns(ctx, &trns) != SPNG_ECHUNKAVAIL) return std::nullopt;
    std::size_t byte_count = 0;
    if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &byte_count) != 0) return std::nullopt;
    if (byte_count != std::size_t{ihdr.width} * ihdr.height * 4) return std::nullopt;
    return Header{ihdr.width, ihdr.height};
}

}  // namespace

void PngRowDecoder::ContextFree::operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }

std::optional<PngRowDecoder::Size> PngRowDecoder::streamable_size(std::span<const std::uint8_t> data) {
    const std::unique_ptr<spng_ctx, ContextFree> ctx(spng_ctx_new(0));
    const std::optional<Header> header = open_streamable(ctx.get(), data);
    if (!header) return std::nullopt;
    return Size{header->width, header->height};
}

PngRowDecoder::PngRowDecoder(std::span<const std::uint8_t> data) : ctx_(spng_ctx_new(0)) {
    const std::optional<Header> header = open_streamable(ctx_.get(), data);
    if (!header) {
        state_ = State::Failed;
        return;
    }
    width_ = header->width;
    height_ = header->height;
    worker_ = std::jthread([this](const std::stop_token& stop) { decode(stop); });
}

PngRowDecoder::~PngRowDecoder() {
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
}

void PngRowDecoder::end(State state) {
    {
        const std::lock_guard lock(mutex_);
        state_ = state;
    }
    row_done_.notify_all();
}

void PngRowDecoder::decode(const std::stop_token& stop) {
    try {
        const std::size_t row_bytes = width_ * 4;
        rows_.resize(row_bytes * height_);
        if (spng_decode_image(ctx_.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) !=
            0) {
            end(State::Failed);
            return;
        }
        for (std::size_t y = 0; y < height_; ++y) {
            if (stop.stop_requested()) {
                end(State::Failed);
                return;
            }
            // The last row answers "end of image"; any other answer than
            // success before it is a failure.
            const int status = spng_decode_row(ctx_.get(), rows_.data() + y * row_bytes, row_bytes);
            const bool last = y + 1 == height_;
            if (status != (last ? static_cast<int>(SPNG_EOI) : 0)) {
                end(State::Failed);
                return;
            }
            {
                const std::lock_guard lock(mutex_);
                rows_done_ = y + 1;
            }
            row_done_.notify_all();
        }
        end(State::Done);
    } catch (...) {
        // Memory for the picture could not be had: a decoding failure.
        end(State::Failed);
    }
}

bool PngRowDecoder::copy_pixels(std::span<std::uint8_t> raster, std::uint64_t count) {
    const std::uint64_t total = std::uint64_t{width_} * height_;
    if (raster.size() / 4 < total) return false;
    count = std::min(count, total);
    if (count <= copied_pixels_) return true;
    const std::uint64_t rows_needed = (count + width_ - 1) / width_;
    std::size_t rows_ready = 0;
    {
        std::unique_lock lock(mutex_);
        row_done_.wait(lock, [&] { return rows_done_ >= rows_needed || state_ != State::Running; });
        if (rows_done_ < rows_needed) return false;
        rows_ready = rows_done_;
    }
    // Rows below rows_done_ are never written again.
    const std::uint64_t ready = std::uint64_t{rows_ready} * width_;
    std::memcpy(raster.data() + copied_pixels_ * 4, rows_.data() + copied_pixels_ * 4, (ready - copied_pixels_) * 4);
    copied_pixels_ = ready;
    if (ready == total) std::vector<std::uint8_t>().swap(rows_);  // all handed over
    return true;
}

bool PngRowDecoder::succeeded() {
    std::unique_lock lock(mutex_);
    row_done_.wait(lock, [&] { return state_ != State::Running; });
    return state_ == State::Done;
}

}  // namespace pixmorf
