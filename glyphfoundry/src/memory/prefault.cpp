#include "prefault.hpp"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace glyph {

void prefault_for_writing(const void* begin, std::size_t size) noexcept {
#if defined(__linux__)
    // Linux 5.14 and later; older kernels answer EINVAL, which is ignored.
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;
#endif
    constexpr std::uintptr_t PAGE = 4096;
    const auto start = reinterpret_cast<std::uintptr_t>(begin);
    const std::uintptr_t first = (start + PAGE - 1) & ~(PAGE - 1);
    const std::uintptr_t last = (start + size) & ~(PAGE - 1);
    if (first >= last) return;
    // NOLINTNEXTLINE(performance-no-int-to-ptr): madvise takes an address.
    static_cast<void>(::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE));
#else
    static_cast<void>(begin);
    static_cast<void>(size);
#endif
}

}  // namespace glyph
