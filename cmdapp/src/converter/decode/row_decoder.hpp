#pragma once
// A picture decoded row by row on a thread of its own, so that a conversion
// can start on the first rows while the others are still being decoded.
// For the formats and kinds of file whose rows come in order, top first, and
// whose pixels are all opaque (see row_streams.hpp).
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "image_input.hpp"
#include "row_streams.hpp"

namespace pixmorf {

class RowDecoder {
public:
    // The size of `data` in `format` when it can be decoded row by row, or
    // nothing (the whole-picture decoder then decides about it).
    static std::optional<StreamSize> streamable_size(InputFormat format, std::span<const std::uint8_t> data);

    // Starts decoding `data`, which streamable_size() accepted as `format`
    // with that size, and which must outlive the decoder.
    RowDecoder(InputFormat format, std::span<const std::uint8_t> data, StreamSize size);
    // Stops decoding and waits for the thread.
    ~RowDecoder();
    RowDecoder(const RowDecoder&) = delete;
    RowDecoder& operator=(const RowDecoder&) = delete;

    std::size_t width() const { return size_.width; }
    std::size_t height() const { return size_.height; }

    // Copies into `raster` (RGBA bytes of width x height pixels) the decoded
    // pixels it lacks, up to the first `count`, waiting for them to be
    // decoded. False once decoding has failed.
    bool copy_pixels(std::span<std::uint8_t> raster, std::uint64_t count);
    // Waits until decoding ends: whether every row decoded, exactly as the
    // whole-picture decoder would have it.
    bool succeeded();

private:
    enum class State : std::uint8_t { Running, Done, Failed };

    void decode(InputFormat format, std::span<const std::uint8_t> data, const std::stop_token& stop);
    void end(State state);

    StreamSize size_;
    std::vector<std::uint8_t> rows_;  // the decoded picture, written by the thread
    std::uint64_t copied_pixels_ = 0;  // how many of them are in the caller's raster
    std::mutex mutex_;
    std::condition_variable row_done_;
    std::size_t rows_done_ = 0;
    State state_ = State::Running;
    std::jthread worker_;  // last: stopped and joined before the rest goes
};

}  // namespace pixmorf
