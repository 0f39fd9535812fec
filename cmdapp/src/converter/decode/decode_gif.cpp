#include "decoded_image.hpp"

namespace pixmorf {

DecodeResult decode_gif(std::span<const std::uint8_t>) { return std::nullopt; }

}  // namespace pixmorf
