#pragma once
// Page faults taken ahead of time. A fresh page costs its first writer a
// fault and the zeroing of the page; a thread with nothing else to do can
// take both for a busy one that is about to write there.
#include <cstddef>

namespace glyph {

// Maps in, writable, the whole pages inside [begin, begin + size). Contents
// are left as they are, so it may run while another thread writes there.
// Does nothing where the system cannot do it.
void prefault_for_writing(const void* begin, std::size_t size) noexcept;

}  // namespace glyph
