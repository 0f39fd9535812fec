#pragma once
// Faults in the pages of the cluster records a pixel pass is about to write,
// a little ahead of it, on a thread of its own: the pass of a photograph
// writes about a million records into fresh memory, and would otherwise stop
// for a page fault every 64 records.
#include <thread>

#include "../../../glyphfoundry/src/color_clusters/builder.hpp"

namespace pixmorf {

class RecordPrefaulter {
public:
    // The builder must outlive the prefaulter.
    explicit RecordPrefaulter(const glyph::ClusterBuilder& builder);

private:
    std::jthread worker_;  // stopped and joined when the prefaulter goes
};

}  // namespace pixmorf
