#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "paths.hpp"
#include "spline.hpp"

namespace glyph {

using SubPath = std::variant<PixelPath, FloatPath, Spline>;

// One shape: the outer outline first, its holes after it.
struct CompoundPath {
    std::vector<SubPath> paths;

    void append(SubPath path) { paths.push_back(std::move(path)); }

    // Text re-based on the first point of the first sub-path, and the
    // translation (offset + that point) that restores it.
    std::pair<std::string, PointF> to_path_data(bool close, PointF offset,
                                                std::optional<std::uint32_t> precision) const;
};

}  // namespace glyph
