#include "spline.hpp"

namespace glyph {

void Spline::offset(PointF d) {
    for (auto& p : points) p = p + d;
}

std::string Spline::to_path_data(bool, PointF, std::optional<std::uint32_t>) const { return {}; }

}  // namespace glyph
