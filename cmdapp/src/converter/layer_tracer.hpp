#pragma once
// Traces the layers of a stacked colour conversion on a worker thread while
// the merge pass goes on. A layer never changes once emitted, and the merge
// pass emits most of them long before it ends, so their tracing overlaps the
// clustering instead of following it.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "../../../glyphfoundry/src/color_clusters/builder.hpp"
#include "../../../glyphfoundry/src/path/compound.hpp"

namespace pixmorf {

struct TracedShape {
    std::uint32_t index = 0;  // the cluster's index
    glyph::CompoundPath path;
    glyph::Color color;
};

class LayerTracer {
public:
    // Starts the worker. `trace` (and the budget it points to) must outlive
    // the tracer.
    LayerTracer(const glyph::TraceParams& trace, std::uint32_t image_width);
    // Calls stop().
    ~LayerTracer();
    LayerTracer(const LayerTracer&) = delete;
    LayerTracer& operator=(const LayerTracer&) = delete;

    // The sink to give the builder; it queues every layer it is told about.
    glyph::LayerSink sink();
    // After the builder's last step: traces what is still queued, on this
    // thread and the worker, and stops the worker. The traced layers by
    // ascending index, or nothing when tracing any of them failed.
    std::optional<std::vector<TracedShape>> drain();
    // Drops what is queued and waits for the worker to end. Safe to call
    // more than once.
    void stop();

private:
    struct Job {
        glyph::EmittedLayer layer;
        TracedShape* result = nullptr;
    };
    // Takes and traces jobs until the queue is empty and closed, or failed.
    void work();
    std::optional<Job> next_job();

    const glyph::TraceParams& trace_;
    std::uint32_t image_width_;
    std::mutex mutex_;
    std::condition_variable job_ready_;
    std::deque<Job> jobs_;
    std::deque<TracedShape> results_;  // stable addresses for the jobs
    std::vector<std::vector<std::uint32_t>> spare_pixel_lists_;  // traced layers' pixel lists
    bool closed_ = false;
    bool failed_ = false;
    int waiting_ = 0;  // threads waiting for a job
    std::jthread worker_;  // last: stopped and joined before the rest goes
};

}  // namespace pixmorf
