#include "compound.hpp"

#include <cmath>
#include <limits>
#include <type_traits>
#include <variant>

#include "../failure.hpp"

namespace glyph {

namespace {

PointF first_point(const SubPath& path) {
    return std::visit(
        [](const auto& sub_path) -> PointF {
            if (sub_path.points.empty()) stop("compound path: first sub-path has no points");
            const auto& p = sub_path.points.front();
            if constexpr (std::is_same_v<std::decay_t<decltype(p)>, PointI>) {
                return to_float(p);
            } else {
                return p;
            }
        },
        path);
}

// Truncated toward zero and clamped to the 32-bit range; NaN gives 0.
std::int32_t to_int32_saturating(double v) {
    if (std::isnan(v)) return 0;
    constexpr double lowest = std::numeric_limits<std::int32_t>::min();
    constexpr double highest = std::numeric_limits<std::int32_t>::max();
    if (v <= lowest) return std::numeric_limits<std::int32_t>::min();
    if (v >= highest) return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(v);
}

}  // namespace

std::pair<std::string, PointF> CompoundPath::to_path_data(bool close, PointF offset,
                                                          std::optional<std::uint32_t> precision) const {
    // Every shape is re-based on its own first point; the translation puts it
    // back. Subtracting from +0.0 keeps a zero coordinate at +0.0.
    PointF origin{0.0, 0.0};
    if (!paths.empty()) {
        const PointF first = first_point(paths.front());
        origin = {0.0 - first.x, 0.0 - first.y};
    }
    const PointI pixel_origin{to_int32_saturating(origin.x), to_int32_saturating(origin.y)};

    std::string text;
    for (const SubPath& path : paths) {
        if (const auto* pixels = std::get_if<PixelPath>(&path)) {
            text += pixels->to_path_data(close, pixel_origin, precision);
        } else if (const auto* floats = std::get_if<FloatPath>(&path)) {
            text += floats->to_path_data(close, origin, precision);
        } else {
            text += std::get<Spline>(path).to_path_data(close, origin, precision);
        }
    }
    return {std::move(text), PointF{offset.x - origin.x, offset.y - origin.y}};
}

}  // namespace glyph
