#pragma once
// A PNG decoded row by row on a thread of its own, so that a conversion can
// start on the first rows while the others are still being decoded. Only
// for 8-bit truecolour PNGs without interlacing and without a transparent
// colour: their rows come in order and every pixel is opaque.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

struct spng_ctx;

namespace pixmorf {

class PngRowDecoder {
public:
    // The size of `data` as such a PNG, or nothing for any other file (the
    // whole-picture decoder decides about those).
    struct Size {
        std::size_t width = 0;
        std::size_t height = 0;
    };
    static std::optional<Size> streamable_size(std::span<const std::uint8_t> data);

    // Starts decoding `data`, a file streamable_size() accepted, which must
    // outlive the decoder.
    explicit PngRowDecoder(std::span<const std::uint8_t> data);
    // Stops decoding and waits for the thread.
    ~PngRowDecoder();
    PngRowDecoder(const PngRowDecoder&) = delete;
    PngRowDecoder& operator=(const PngRowDecoder&) = delete;

    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }

    // Copies into `raster` (RGBA bytes of width x height pixels) the decoded
    // pixels it lacks, up to the first `count`, waiting for them to be
    // decoded. False once decoding has failed.
    bool copy_pixels(std::span<std::uint8_t> raster, std::uint64_t count);
    // Waits until decoding ends: whether every row decoded, exactly as the
    // whole-picture decoder would have it.
    bool succeeded();

private:
    struct ContextFree {
        void operator()(spng_ctx* ctx) const;
    };
    enum class State : std::uint8_t { Running, Done, Failed };

    void decode(const std::stop_token& stop);
    void end(State state);

    std::unique_ptr<spng_ctx, ContextFree> ctx_;
    std::size_t width_ = 0;
    std::size_t height_ = 0;
    std::vector<std::uint8_t> rows_;  // the decoded picture, written by the thread
    std::uint64_t copied_pixels_ = 0;  // how many of them are in the caller's raster
    std::mutex mutex_;
    std::condition_variable row_done_;
    std::size_t rows_done_ = 0;
    State state_ = State::Running;
    std::jthread worker_;  // last: stopped and joined before the rest goes
};

}  // namespace pixmorf
