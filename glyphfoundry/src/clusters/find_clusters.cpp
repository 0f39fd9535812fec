#include "cluster.hpp"

namespace glyph {

std::vector<Cluster> find_clusters(const BitRaster&) { return {}; }

BitRaster Cluster::to_mask() const { return BitRaster::create(0, 0); }

CompoundPath Cluster::to_shape_path(const TraceParams&) const { return {}; }

}  // namespace glyph
