#include "compute/crew.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

struct SetUps {
    const char* name;
    unsigned wanted;
    unsigned failing; // bit i: the i-th set-up to run throws
    unsigned size;    // threads that then run each job
};

class CrewSetUp : public testing::TestWithParam<SetUps> {};

// Threads whose set-up fails retire; the others, or the caller alone, run
// each job once for every index below size(), whichever retired.
TEST_P(CrewSetUp, RetiresTheThreadsThatFail)
{
    const SetUps& row = GetParam();
    std::atomic<unsigned> setUps{0};
    quadrilo::Crew crew(
        row.wanted, [](std::function<void()> body) { return std::thread(std::move(body)); },
        [&](const std::function<void()>& serve) {
            if (row.failing >> setUps++ & 1u)
                throw std::bad_alloc();
            serve();
        });
    EXPECT_EQ(setUps.load(), row.wanted);
    ASSERT_EQ(crew.size(), row.size);
    for (int round = 0; round < 3; ++round) {
        std::vector<std::atomic<int>> ran(row.size);
        crew.run([&](unsigned index) { ++ran.at(index); });
        for (unsigned i = 0; i < row.size; ++i)
            EXPECT_EQ(ran[i].load(), 1) << "index " << i << ", round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CrewSetUp,
                         testing::Values(SetUps{"AllServe", 4, 0b0000, 4}, SetUps{"FirstFails", 4, 0b0001, 3},
                                         SetUps{"SecondAndFourthFail", 4, 0b1010, 2},
                                         SetUps{"AllButOneFail", 3, 0b011, 1},
                                         // The caller then does the work.
                                         SetUps{"AllFail", 3, 0b111, 1}),
                         [](const testing::TestParamInfo<SetUps>& info) { return std::string(info.param.name); });

} // namespace
