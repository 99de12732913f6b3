#include "compute/engine.h"
#include "compute/yardsticks/reference.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <system_error>
#include <thread>

namespace {

using quadrilo::Engine;
using quadrilo::EngineSettings;

// A system that gives only `threads` threads; every later start fails as
// std::thread does when the process is out of them.
quadrilo::ThreadFactory threadsUpTo(unsigned threads, std::atomic<unsigned>& started)
{
    return [threads, &started](std::function<void()> body) {
        if (started >= threads)
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        ++started;
        return std::thread(std::move(body));
    };
}

// The plain loop is slow (a microsecond a pass): once for all rows.
const quadrilo::Evaluation& firstKindAt04And60()
{
    static const quadrilo::Evaluation reference = quadrilo::firstKindReference(0.4, 60);
    return reference;
}

struct Crew {
    const char* name;
    unsigned wanted;
    unsigned granted; // threads the system gives
    unsigned workers; // who then compute: the caller and the helpers granted
};

class EngineWorkers : public testing::TestWithParam<Crew> {};

// Several blocks, a binade crossed inside them, both kinds: the same bits
// whoever computes them.
TEST_P(EngineWorkers, GiveTheReferenceBits)
{
    const Crew& crew = GetParam();
    std::atomic<unsigned> started{0};
    Engine engine(EngineSettings{crew.wanted, quadrilo::bestIsa(), threadsUpTo(crew.granted, started), {}});
    EXPECT_EQ(engine.workers(), crew.workers);
    EXPECT_EQ(started.load(), std::min(crew.wanted - 1, crew.granted));

    const auto first = engine.firstKind(0.4, 60);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->sum, firstKindAt04And60().sum);
    EXPECT_EQ(first->passes, firstKindAt04And60().passes);
    static const double second = quadrilo::secondKindReference().sum;
    EXPECT_EQ(engine.secondKind()->sum, second);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EngineWorkers,
    testing::Values(Crew{"One", 1, 8, 1}, Crew{"Two", 2, 8, 2}, Crew{"Five", 5, 8, 5},
                    Crew{"TwoOfThreeHelpersStart", 4, 2, 3}, Crew{"OneOfTwoHelpersStarts", 3, 1, 2},
                    // No thread at all: the caller computes alone.
                    Crew{"NoneStarts", 4, 0, 1}),
    [](const testing::TestParamInfo<Crew>& info) { return std::string(info.param.name); });

// Stopping from the progress callback, with workers racing ahead: the
// callback sees the passes done grow, and the engine goes on after.
TEST(EngineWorkers, StopWhenAskedAndCanGoAgain)
{
    Engine engine(EngineSettings{3, quadrilo::bestIsa(), {}, {}});
    std::uint64_t calls = 0, seen = 0;
    EXPECT_FALSE(engine.firstKind(2.0, 30, [&](std::uint64_t done) {
        EXPECT_GT(done, seen);
        seen = done;
        return ++calls < 5;
    }));
    EXPECT_EQ(calls, 5u);
    const auto again = engine.firstKind(0.2, 30);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->sum, quadrilo::firstKindReference(0.2, 30).sum);
}

// A failure on one worker stops the others, and the engine is whole after.
TEST(EngineWorkers, ADivisionByZeroStopsEveryWorker)
{
    Engine engine(EngineSettings{2, quadrilo::bestIsa(), {}, {}});
    EXPECT_THROW(engine.firstKind(142.9424658, 89.999999), quadrilo::RuntimeError);
    EXPECT_EQ(engine.firstKind(0.1, 10)->sum, quadrilo::firstKindReference(0.1, 10).sum);
}

} // namespace
