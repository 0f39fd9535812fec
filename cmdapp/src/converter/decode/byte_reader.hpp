#pragma once
// Bounds-checked reading of encoded picture bytes and the small helpers that
// the decoders written in this project share.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "decoded_image.hpp"
#include "without_throwing.hpp"

namespace pixmorf::decode_support {

inline std::uint16_t load_le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t load_le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint16_t load_be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t load_be32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

// A cursor over the encoded bytes. A read past the end yields zeros and marks
// the reader failed, so a header can be read field by field and checked once
// with ok(). The position never passes the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

    bool ok() const { return ok_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }
    bool has(std::uint64_t count) const { return count <= remaining(); }

    bool seek(std::uint64_t position) {
        if (position > data_.size()) return fail();
        pos_ = static_cast<std::size_t>(position);
        return true;
    }
    bool skip(std::uint64_t count) {
        if (!has(count)) return fail();
        pos_ += static_cast<std::size_t>(count);
        return true;
    }
    // The next `count` bytes, or an empty span (and failure) when fewer remain.
    std::span<const std::uint8_t> take(std::uint64_t count) {
        if (!has(count)) {
            fail();
            return {};
        }
        const auto bytes = data_.subspan(pos_, static_cast<std::size_t>(count));
        pos_ += static_cast<std::size_t>(count);
        return bytes;
    }
    // The bytes not read yet.
    std::span<const std::uint8_t> rest() const { return data_.subspan(pos_); }
    // The next byte without consuming it, or nothing at the end.
    std::optional<std::uint8_t> peek() const {
        if (pos_ >= data_.size()) return std::nullopt;
        return data_[pos_];
    }

    std::uint8_t u8() { return has(1) ? data_[pos_++] : zero_and_fail(); }
    std::uint16_t le16() { return read<2>(load_le16); }
    std::uint32_t le32() { return read<4>(load_le32); }
    std::uint16_t be16() { return read<2>(load_be16); }
    std::uint32_t be32() { return read<4>(load_be32); }
    std::int32_t le32_signed() { return static_cast<std::int32_t>(le32()); }

private:
    template <std::size_t Size, class Load>
    auto read(Load load) -> decltype(load(nullptr)) {
        if (!has(Size)) return static_cast<decltype(load(nullptr))>(zero_and_fail());
        const auto value = load(data_.data() + pos_);
        pos_ += Size;
        return value;
    }
    bool fail() {
        ok_ = false;
        pos_ = data_.size();
        return false;
    }
    std::uint8_t zero_and_fail() {
        fail();
        return 0;
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

// A picture of the given size with its sample buffer allocated (zeroed), or
// nothing when the size is beyond the decode limit.
inline std::optional<DecodedImage> allocate_image(std::uint64_t width, std::uint64_t height,
                                                  PixelLayout layout, int bits_per_channel) {
    if (!within_decode_limit(width, height)) return std::nullopt;
    DecodedImage image;
    image.width = static_cast<std::size_t>(width);
    image.height = static_cast<std::size_t>(height);
    image.layout = layout;
    image.bits_per_channel = bits_per_channel;
    const std::size_t samples = image.width * image.height * channel_count(layout);
    if (bits_per_channel == 16) {
        image.samples16.resize(samples);
    } else {
        image.samples8.resize(samples);
    }
    return image;
}

}  // namespace pixmorf::decode_support
