#include "point.hpp"

namespace glyph {

std::string PointI::to_path_data() const { return std::to_string(x) + "," + std::to_string(y); }

std::string PointF::to_path_data(std::optional<std::uint32_t> precision) const {
    return format_coordinate(x, precision) + "," + format_coordinate(y, precision);
}

// Placeholder until the exact formatter lands.
std::string format_coordinate(double value, std::optional<std::uint32_t>) { return std::to_string(value); }

}  // namespace glyph
