#include "compute/threads/ordered_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint64_t kNever = ~std::uint64_t{0};

struct Stages {
    const char* name;
    unsigned workers;
    std::uint64_t items;
    std::uint64_t stopAfter = kNever;  // use returns false for this item
    std::uint64_t makeThrows = kNever; // at this item
    std::uint64_t useThrows = kNever;
};

class OrderedPipelineRun : public testing::TestWithParam<Stages> {};

// Integer stages: item i is made as i * i into its buffer, and used only if
// its buffer holds it, its turn has come, and no more items are made and not
// yet used than there are buffers. Twice, on the same pipeline, to show that
// a run leaves nothing behind for the next.
TEST_P(OrderedPipelineRun, UsesEachItemOnceInOrder)
{
    const Stages& row = GetParam();
    quadrilo::Crew crew(
        row.workers, [](std::function<void()> body) { return std::thread(std::move(body)); },
        [](const std::function<void()>& serve) { serve(); });
    ASSERT_EQ(crew.size(), row.workers);
    quadrilo::OrderedPipeline pipeline(crew);
    ASSERT_EQ(pipeline.buffers(), 2 * row.workers);

    for (int round = 0; round < 2; ++round) {
        std::vector<std::uint64_t> buffers(pipeline.buffers(), kNever);
        std::atomic<std::uint64_t> made{0}, live{0}, mostLive{0};
        std::uint64_t used = 0; // only the in-order stage touches it
        const auto make = [&](std::uint64_t item, unsigned buffer) {
            if (item == row.makeThrows)
                throw std::runtime_error("made " + std::to_string(item));
            std::uint64_t now = ++live, most = mostLive.load();
            while (now > most && !mostLive.compare_exchange_weak(most, now)) {
            }
            buffers.at(buffer) = item * item;
            ++made;
        };
        const auto use = [&](std::uint64_t item, unsigned buffer) {
            EXPECT_EQ(item, used);
            EXPECT_EQ(buffers.at(buffer), item * item) << "item " << item;
            --live;
            ++used;
            if (item == row.useThrows)
                throw std::runtime_error("used " + std::to_string(item));
            return item != row.stopAfter;
        };

        const std::uint64_t failsAt = std::min(row.makeThrows, row.useThrows);
        if (failsAt < row.items) {
            EXPECT_THROW(pipeline.run(row.items, make, use), std::runtime_error);
            EXPECT_LE(used, failsAt + 1);
        } else if (row.stopAfter < row.items) {
            EXPECT_FALSE(pipeline.run(row.items, make, use));
            EXPECT_EQ(used, row.stopAfter + 1);
            EXPECT_EQ(pipeline.used(), used);
            EXPECT_LE(made.load(), used + pipeline.buffers());
        } else {
            EXPECT_TRUE(pipeline.run(row.items, make, use));
            EXPECT_EQ(used, row.items);
            EXPECT_EQ(made.load(), row.items);
            EXPECT_EQ(pipeline.used(), row.items);
        }
        EXPECT_LE(mostLive.load(), pipeline.buffers());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OrderedPipelineRun,
    testing::Values(Stages{"NoItem", 3, 0}, Stages{"OneItem", 3, 1}, Stages{"CallerAlone", 1, 500},
                    Stages{"TwoWorkers", 2, 2000}, Stages{"MoreWorkersThanCores", 6, 2000},
                    Stages{"FewerItemsThanBuffers", 4, 5}, Stages{"StopsAtTheFirst", 3, 100, 0},
                    Stages{"StopsInTheMiddle", 3, 1000, 400}, Stages{"StopsAtTheLast", 2, 100, 99},
                    Stages{"MakeThrowsFirst", 3, 100, kNever, 0},
                    Stages{"MakeThrowsInTheMiddle", 3, 1000, kNever, 600},
                    Stages{"UseThrowsInTheMiddle", 3, 1000, kNever, kNever, 300},
                    Stages{"UseThrowsAlone", 1, 100, kNever, kNever, 50}),
    [](const testing::TestParamInfo<Stages>& info) { return std::string(info.param.name); });

} // namespace
