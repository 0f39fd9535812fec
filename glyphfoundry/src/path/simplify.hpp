#pragma once
// Polygon simplification of traced pixel outlines.
#include "paths.hpp"

namespace glyph {

PixelPath drop_stair_steps(const PixelPath& path, bool clockwise);
PixelPath prune_by_penalty(const PixelPath& path);

}  // namespace glyph
