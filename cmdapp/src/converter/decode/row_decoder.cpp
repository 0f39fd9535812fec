#include "row_decoder.hpp"

#include <algorithm>
#include <cstring>

namespace pixmorf {

namespace {

bool decode_rows(InputFormat format, std::span<const std::uint8_t> data, std::span<std::uint8_t> rgba,
                 const RowProgress& progress) {
    switch (format) {
        case InputFormat::Png: return decode_png_rows(data, rgba, progress);
        case InputFormat::Jpeg: return decode_jpeg_rows(data, rgba, progress);
        default: return false;
    }
}

}  // namespace

std::optional<StreamSize> RowDecoder::streamable_size(InputFormat format, std::span<const std::uint8_t> data) {
    switch (format) {
        case InputFormat::Png: return png_stream_size(data);
        case InputFormat::Jpeg: return jpeg_stream_size(data);
        default: return std::nullopt;
    }
}

RowDecoder::RowDecoder(InputFormat format, std::span<const std::uint8_t> data, StreamSize size)
    : size_(size),
      worker_([this, format, data](const std::stop_token& stop) { decode(format, data, stop); }) {}

RowDecoder::~RowDecoder() {
    worker_.request_stop();
    if (worker_.joinable()) worker_.join();
}

void RowDecoder::end(State state) {
    {
        const std::lock_guard lock(mutex_);
        state_ = state;
    }
    row_done_.notify_all();
}

void RowDecoder::decode(InputFormat format, std::span<const std::uint8_t> data, const std::stop_token& stop) {
    try {
        rows_.resize(size_.width * size_.height * 4);
        const RowProgress progress = [&](std::size_t rows_done) {
            {
                const std::lock_guard lock(mutex_);
                rows_done_ = rows_done;
            }
            row_done_.notify_all();
            return !stop.stop_requested();
        };
        const bool decoded = decode_rows(format, data, rows_, progress);
        end(decoded && rows_done_ == size_.height ? State::Done : State::Failed);
    } catch (...) {
        // Memory for the picture could not be had: a decoding failure.
        end(State::Failed);
    }
}

bool RowDecoder::copy_pixels(std::span<std::uint8_t> raster, std::uint64_t count) {
    const std::uint64_t total = std::uint64_t{size_.width} * size_.height;
    if (raster.size() / 4 < total) return false;
    count = std::min(count, total);
    if (count <= copied_pixels_) return true;
    const std::uint64_t rows_needed = (count + size_.width - 1) / size_.width;
    std::size_t rows_ready = 0;
    {
        std::unique_lock lock(mutex_);
        row_done_.wait(lock, [&] { return rows_done_ >= rows_needed || state_ != State::Running; });
        if (rows_done_ < rows_needed) return false;
        rows_ready = rows_done_;
    }
    // Rows below rows_done_ are never written again.
    const std::uint64_t ready = std::uint64_t{rows_ready} * size_.width;
    std::memcpy(raster.data() + copied_pixels_ * 4, rows_.data() + copied_pixels_ * 4, (ready - copied_pixels_) * 4);
    copied_pixels_ = ready;
    if (ready == total) std::vector<std::uint8_t>().swap(rows_);  // all handed over
    return true;
}

bool RowDecoder::succeeded() {
    std::unique_lock lock(mutex_);
    row_done_.wait(lock, [&] { return state_ != State::Running; });
    return state_ == State::Done;
}

}  // namespace pixmorf
