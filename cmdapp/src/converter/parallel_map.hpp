#pragma once
// An ordered parallel map over the indices 0 .. count-1: independent pieces
// of work run on a few threads, their results come back in index order, and
// a failure is the one a plain loop would have met.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <type_traits>
#include <vector>

namespace pixmorf {

inline constexpr unsigned MAX_WORKER_THREADS = 8;

// The threads a parallel phase may use here: as many as the hardware runs at
// once (1 when unknown), at most MAX_WORKER_THREADS.
inline unsigned hardware_worker_threads() {
    return std::clamp(std::thread::hardware_concurrency(), 1u, MAX_WORKER_THREADS);
}

// Calls work(i) for every i in [0, count) on up to `thread_count` threads, the
// calling thread being one of them, and returns the results in index order.
// With one thread (or at most one index) it is a plain loop on the caller's
// thread.
//
// Indices are handed out in increasing order and a call, once started, always
// runs to its end. When a call throws, no thread starts a further index, and
// after all threads have finished the exception of the lowest failing index is
// rethrown. Every index below the highest one started has then run, so as long
// as the calls do not depend on each other it is the exception that the plain
// loop throws. No exception leaves a thread. A thread that cannot be started
// leaves its share to the others.
//
// `work` is called from several threads at once; the result type must be
// default-constructible and movable.
template <class Work>
auto map_indices_in_order(std::size_t count, unsigned thread_count, Work&& work)
    -> std::vector<std::invoke_result_t<Work&, std::size_t>> {
    using Result = std::invoke_result_t<Work&, std::size_t>;
    static_assert(std::is_default_constructible_v<Result>, "results are stored in place by index");
    std::vector<Result> results(count);
    const std::size_t threads = std::min<std::size_t>(thread_count, count);
    if (threads <= 1) {
        for (std::size_t i = 0; i < count; ++i) results[i] = work(i);
        return results;
    }

    struct Failure {
        std::size_t index = SIZE_MAX;
        std::exception_ptr error;
    };
    std::vector<Failure> failures(threads);  // one slot per thread: no lock needed
    std::atomic<std::size_t> next_index{0};
    std::atomic<bool> failed{false};

    auto run = [&](std::size_t thread) noexcept {
        while (!failed.load(std::memory_order_relaxed)) {
            const std::size_t i = next_index.fetch_add(1, std::memory_order_relaxed);
            if (i >= count) return;
            try {
                results[i] = work(i);
            } catch (...) {
                failures[thread] = {i, std::current_exception()};
                failed.store(true, std::memory_order_relaxed);
                return;
            }
        }
    };

    {
        std::vector<std::jthread> helpers;
        try {
            helpers.reserve(threads - 1);
            for (std::size_t thread = 1; thread < threads; ++thread) helpers.emplace_back(run, thread);
        } catch (...) {
            // Out of threads or memory: the threads started so far (at least
            // the calling one) do all the work.
        }
        run(0);
    }  // joins the helpers; their writes are visible from here on

    const auto first_failure = std::min_element(
        failures.begin(), failures.end(), [](const Failure& a, const Failure& b) { return a.index < b.index; });
    if (first_failure->error) std::rethrow_exception(first_failure->error);
    return results;
}

}  // namespace pixmorf
