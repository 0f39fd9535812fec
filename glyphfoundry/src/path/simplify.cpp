#include "simplify.hpp"

namespace glyph {

PixelPath drop_stair_steps(const PixelPath& path, bool) { return path; }
PixelPath prune_by_penalty(const PixelPath& path) { return path; }

}  // namespace glyph
