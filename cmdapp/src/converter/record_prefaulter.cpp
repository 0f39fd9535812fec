#include "record_prefaulter.hpp"

#include <algorithm>
#include <chrono>
#include <cstddef>

#include "../../../glyphfoundry/src/memory/prefault.hpp"

namespace pixmorf {

RecordPrefaulter::RecordPrefaulter(const glyph::ClusterBuilder& builder)
    : worker_([storage = builder.record_storage()](const std::stop_token& stop) {
          // Staying at most AHEAD bytes in front of the pass keeps the
          // resident size close to what the pass really uses.
          constexpr std::size_t CHUNK = std::size_t{1} << 20;
          constexpr std::size_t AHEAD = std::size_t{32} << 20;
          const auto* begin = static_cast<const std::byte*>(storage.begin);
          std::size_t done = 0;
          while (done < storage.size && !stop.stop_requested()) {
              const std::size_t written = storage.written->load(std::memory_order_relaxed);
              if (written == glyph::ClusterBuilder::RECORDS_SETTLED) return;
              if (done >= written + AHEAD) {
                  std::this_thread::sleep_for(std::chrono::microseconds(200));
                  continue;
              }
              const std::size_t size = std::min(CHUNK, storage.size - done);
              glyph::prefault_for_writing(begin + done, size);
              done += size;
          }
      }) {}

}  // namespace pixmorf
