#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "converter/parallel_map.hpp"

using pixmorf::map_indices_in_order;

namespace {

// Work of uneven length, so that threads finish their indices out of order.
std::string slow_text(std::size_t i) {
    volatile std::size_t sink = 0;
    for (std::size_t k = 0; k < (i * 7919) % 4000; ++k) sink = sink + k;
    return std::to_string(i * i);
}

struct FailureAt : std::runtime_error {
    std::size_t index;
    explicit FailureAt(std::size_t at) : std::runtime_error("failed at " + std::to_string(at)), index(at) {}
};

}  // namespace

TEST(MapIndicesInOrder, ResultsComeInIndexOrder) {
    for (const unsigned threads : {1u, 2u, 3u, 8u}) {
        for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{1000}}) {
            const std::vector<std::string> results = map_indices_in_order(count, threads, slow_text);
            ASSERT_EQ(results.size(), count) << threads << " threads";
            for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(results[i], std::to_string(i * i)) << i;
        }
    }
}

TEST(MapIndicesInOrder, EveryIndexRunsOnce) {
    std::vector<std::atomic<int>> calls(5000);
    map_indices_in_order(calls.size(), 4, [&](std::size_t i) { return ++calls[i]; });
    for (std::size_t i = 0; i < calls.size(); ++i) ASSERT_EQ(calls[i].load(), 1) << i;
}

// Every index from 300 on fails, and 300 takes longest to do so: the other
// threads fail meanwhile, at higher indices, with another exception type. The
// exception thrown is always that of index 300, as in a plain loop.
TEST(MapIndicesInOrder, RethrowsTheFailureOfTheLowestFailingIndex) {
    for (const unsigned threads : {1u, 2u, 4u}) {
        for (int round = 0; round < 20; ++round) {
            const auto work = [](std::size_t i) {
                if (i == 300) {
                    for (std::size_t k = 0; k < 50; ++k) slow_text(k);
                    throw FailureAt(i);
                }
                if (i > 300) throw std::logic_error("later index");
                return slow_text(i);
            };
            try {
                map_indices_in_order(3000, threads, work);
                ADD_FAILURE() << "no failure";
            } catch (const FailureAt& failure) {
                EXPECT_EQ(failure.index, 300u) << threads << " threads";
            } catch (const std::logic_error&) {
                ADD_FAILURE() << "the failure of a later index, " << threads << " threads";
            }
        }
    }
}

TEST(MapIndicesInOrder, StopsTakingIndicesAfterAFailure) {
    constexpr std::size_t COUNT = 200000;
    std::atomic<std::size_t> started{0};
    EXPECT_THROW(map_indices_in_order(COUNT, 4,
                                      [&](std::size_t i) {
                                          ++started;
                                          if (i == 10) throw std::runtime_error("stop");
                                          return slow_text(i);
                                      }),
                 std::runtime_error);
    EXPECT_LT(started.load(), COUNT / 2);
}
