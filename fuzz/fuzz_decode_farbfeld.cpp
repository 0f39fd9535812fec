// libFuzzer target: the farbfeld decoder on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "decoded_image_check.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_decoded(pixmorf::decode_farbfeld(std::span<const std::uint8_t>(data, size)));
    return 0;
}
