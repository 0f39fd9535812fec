#include "compound.hpp"

namespace glyph {

std::pair<std::string, PointF> CompoundPath::to_path_data(bool, PointF offset,
                                                          std::optional<std::uint32_t>) const {
    return {std::string{}, offset};
}

}  // namespace glyph
