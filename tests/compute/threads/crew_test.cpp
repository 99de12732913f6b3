#include "compute/threads/crew.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

struct SetUps {
    const char* name;
    unsigned wanted;  // workers, the caller among them
    unsigned failing; // bit i: the i-th helper's set-up to run throws
    unsigned size;    // workers that then run each job
};

class CrewSetUp : public testing::TestWithParam<SetUps> {};

// Helpers whose set-up fails retire; the others and the caller run each job
// once for every index below size(), whichever retired, the caller as 0.
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
    EXPECT_EQ(setUps.load(), row.wanted - 1);
    ASSERT_EQ(crew.size(), row.size);
    const auto caller = std::this_thread::get_id();
    for (int round = 0; round < 3; ++round) {
        std::vector<std::atomic<int>> ran(row.size);
        crew.run([&](unsigned index) {
            ++ran.at(index);
            EXPECT_EQ(index == 0, std::this_thread::get_id() == caller) << "index " << index;
        });
        for (unsigned i = 0; i < row.size; ++i)
            EXPECT_EQ(ran[i].load(), 1) << "index " << i << ", round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CrewSetUp,
                         testing::Values(SetUps{"AllServe", 4, 0b000, 4}, SetUps{"FirstFails", 4, 0b001, 3},
                                         SetUps{"SecondAndThirdFail", 4, 0b110, 2},
                                         SetUps{"AllButOneFail", 4, 0b011, 2},
                                         // The caller then does the work.
                                         SetUps{"AllFail", 3, 0b11, 1}, SetUps{"OnlyTheCaller", 1, 0, 1}),
                         [](const testing::TestParamInfo<SetUps>& info) { return std::string(info.param.name); });

} // namespace
