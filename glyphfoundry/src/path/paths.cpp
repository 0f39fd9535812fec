#include "paths.hpp"

namespace glyph {

void PixelPath::offset(PointI d) {
    for (auto& p : points) p = wrapping_add(p, d);
}

void FloatPath::offset(PointF d) {
    for (auto& p : points) p = p + d;
}

std::string PixelPath::to_path_data(bool, PointI, std::optional<std::uint32_t>) const { return {}; }
std::string FloatPath::to_path_data(bool, PointF, std::optional<std::uint32_t>) const { return {}; }

}  // namespace glyph
