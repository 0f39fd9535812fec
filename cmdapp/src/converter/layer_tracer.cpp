#include "layer_tracer.hpp"

#include <algorithm>
#include <utility>

namespace pixmorf {

LayerTracer::LayerTracer(const glyph::TraceParams& trace, std::uint32_t image_width)
    : trace_(trace), image_width_(image_width), worker_([this] { work(); }) {}

LayerTracer::~LayerTracer() { stop(); }

void LayerTracer::stop() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
        failed_ = true;  // whatever is still queued is not wanted any more
    }
    job_ready_.notify_all();
    if (worker_.joinable()) worker_.join();
}

glyph::LayerSink LayerTracer::sink() {
    return [this](glyph::EmittedLayer layer) {
        bool wake = false;
        std::vector<std::uint32_t> spare;
        {
            const std::lock_guard lock(mutex_);
            if (failed_) return spare;
            TracedShape& result = results_.emplace_back();
            result.index = layer.index;
            jobs_.push_back({std::move(layer), &result});
            // A busy worker finds the job itself: waking costs the building
            // thread a system call.
            wake = waiting_ != 0;
            if (!spare_pixel_lists_.empty()) {
                spare = std::move(spare_pixel_lists_.back());
                spare_pixel_lists_.pop_back();
            }
        }
        if (wake) job_ready_.notify_one();
        return spare;
    };
}

std::optional<LayerTracer::Job> LayerTracer::next_job() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    job_ready_.wait(lock, [this] { return failed_ || closed_ || !jobs_.empty(); });
    --waiting_;
    if (failed_ || jobs_.empty()) return std::nullopt;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    return job;
}

void LayerTracer::work() {
    while (std::optional<Job> job = next_job()) {
        try {
            const glyph::ColorCluster& cluster = job->layer.cluster;
            job->result->path = cluster.to_shape_path(image_width_, false, trace_);
            job->result->color = cluster.remainder_color();
            // The pixel list goes back to the builder, its pages already
            // mapped, for a later cluster's pixels.
            const std::lock_guard lock(mutex_);
            spare_pixel_lists_.push_back(std::move(job->layer.cluster.pixels));
        } catch (...) {
            // Which failure the conversion reports is decided by tracing in
            // order afterwards; here it only ends the overlap.
            {
                const std::lock_guard lock(mutex_);
                failed_ = true;
            }
            job_ready_.notify_all();
            return;
        }
    }
}

std::optional<std::vector<TracedShape>> LayerTracer::drain() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    job_ready_.notify_all();
    work();
    if (worker_.joinable()) worker_.join();
    if (failed_) return std::nullopt;
    std::vector<TracedShape> traced(std::make_move_iterator(results_.begin()), std::make_move_iterator(results_.end()));
    results_.clear();
    std::sort(traced.begin(), traced.end(),
              [](const TracedShape& a, const TracedShape& b) { return a.index < b.index; });
    return traced;
}

}  // namespace pixmorf
