#pragma once
// The guard around every decoder's body: decoders report failure by returning
// nothing, never by throwing.
#include <new>
#include <stdexcept>

#include "decoded_image.hpp"

namespace pixmorf::decode_support {

// Runs a decoder body, turning an allocation failure (a size the memory
// cannot hold, or one beyond a container's maximum) into a decode failure.
// Anything else a body might throw passes on to the caller, which reports it
// as an exception, rather than ending the process.
template <class Body>
DecodeResult without_throwing(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    } catch (const std::length_error&) {
        return std::nullopt;
    }
}

}  // namespace pixmorf::decode_support
