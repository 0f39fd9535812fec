#include "decoded_image.hpp"

namespace pixmorf {

DecodeResult decode_hdr(std::span<const std::uint8_t>) { return std::nullopt; }

}  // namespace pixmorf
