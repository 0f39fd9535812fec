#pragma once
// Decoding an encoded picture and converting it, as one job.
#include <cstdint>
#include <optional>
#include <vector>

#include "decode/image_input.hpp"
#include "settings.hpp"

namespace pixmorf {

// The outcome of converting the picture `encoded` holds in `format`, or
// nothing when it cannot be decoded (whatever its conversion met then). The
// encoded bytes are let go once decoded, or with the end of a conversion
// that ran while they were decoded.
// A PNG or JPEG whose rows can be decoded one by one, on its way to a
// conversion that can start on the first rows, is decoded on a thread of its
// own meanwhile. Binary mode reads the dark pixels straight from the decoded
// samples.
std::optional<ConvertOutcome> decode_and_convert(std::vector<std::uint8_t> encoded, InputFormat format,
                                                 const Settings& settings);

}  // namespace pixmorf
