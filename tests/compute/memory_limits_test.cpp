#include "compute/engine.h"
#include "compute/exact/sine.h"
#include "compute/yardsticks/reference.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <system_error>

namespace {

std::size_t mappedBytes()
{
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

void limitAddressSpace(std::size_t soft)
{
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = soft;
    setrlimit(RLIMIT_AS, &limit);
}

// How a child process ended: its exit status, or 128 + the signal.
int inChild(const std::function<int()>& body)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Takes every byte that malloc can still give under the limit, large blocks
// first, then every small size, which malloc keeps apart; returns them as a
// list, so that they can be given back.
void* exhaustTheHeap()
{
    void* taken = nullptr;
    const auto takeAll = [&](std::size_t size) {
        while (void* block = std::malloc(size)) {
            *static_cast<void**>(block) = taken;
            taken = block;
        }
    };
    for (std::size_t size = std::size_t{1} << 20; size > 1024; size /= 2)
        takeAll(size);
    for (std::size_t size = 1024; size >= sizeof(void*); size -= 8)
        takeAll(size);
    return taken;
}

void giveBack(void* taken)
{
    while (taken) {
        void* next = *static_cast<void**>(taken);
        std::free(taken);
        taken = next;
    }
}

// With nothing left to allocate, a failure is still reported as itself, and
// the multiple-precision sines give up with std::bad_alloc (GMP's own
// allocator would abort) each time they need more: here for pi to more and
// more bits, which MPFR keeps, growing it, for the scratch's life. Once
// memory is back, they work again.
TEST(MemoryLimits, NothingLeftToAllocate)
{
    enum { Right, DivisionLost, NeverFailed, NotBack };
    const int status = inChild([] {
        quadrilo::SineScratch scratch; // its numbers made while memory lasts
        (void)quadrilo::correctSin(0.5);
        limitAddressSpace(mappedBytes());
        void* taken = exhaustTheHeap();
        try {
            throw quadrilo::RuntimeError(quadrilo::RuntimeError::DivisionByZero);
        } catch (const quadrilo::RuntimeError& error) {
            if (error.code() != quadrilo::RuntimeError::DivisionByZero)
                return int(DivisionLost);
        } catch (...) {
            return int(DivisionLost);
        }
        int failed = 0;
        for (int exponent = 64; exponent < 1024; exponent += 16) {
            try {
                (void)quadrilo::correctSin(std::ldexp(1.0, exponent));
            } catch (const std::bad_alloc&) {
                ++failed;
            }
        }
        if (failed == 0)
            return int(NeverFailed);
        giveBack(taken);
        limitAddressSpace(RLIM_INFINITY);
        return quadrilo::correctSin(std::ldexp(1.0, 1020)) == quadrilo::correctSin(std::ldexp(1.0, 1020)) &&
                       quadrilo::correctSin(1.0) == 0x1.aed548f090ceep-1
                   ? int(Right)
                   : int(NotBack);
    });
    EXPECT_EQ(status, Right) << "128 + 6 is an abort";
}

// While memory lasts the hooks give every block back to the system: ten
// thousand sines, each with numbers of its own, leave the heap as it was.
TEST(MemoryLimits, EveryBlockIsGivenBack)
{
    (void)quadrilo::correctSin(1e10);
    const std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 10000; ++i)
        (void)quadrilo::correctSin(1e10 + i);
    EXPECT_LT(mallinfo2().uordblks, before + 64 * 1024);
}

// What a child made of an engine asking for `wanted` workers under the limit:
// their number, or one of the outcomes below.
enum Outcome { Aborted = -1, NotMade = 100, OutOfMemory = 101, WrongSum = 102 };

int engineUnder(std::size_t extra, unsigned wanted, double expected)
{
    const int status = inChild([=] {
        limitAddressSpace(mappedBytes() + extra);
        try {
            quadrilo::Engine engine(quadrilo::EngineSettings{wanted, quadrilo::bestIsa(), {}, {}});
            try {
                const auto result = engine.firstKind(0.01, 60);
                return result && result->sum == expected ? static_cast<int>(engine.workers()) : int(WrongSum);
            } catch (const std::bad_alloc&) {
                return int(OutOfMemory);
            }
        } catch (const std::bad_alloc&) {
            return int(NotMade);
        } catch (const std::system_error&) {
            return int(NotMade);
        }
    });
    return status >= 128 ? Aborted : status;
}

// The engine under address-space limits a little over what it has mapped:
// it is made with the workers that fit, or not at all, and computes the
// reference's bits; it never aborts. The narrow windows that matter lie just
// under each limit at which one more worker fits: that worker's stack is
// mapped, and its first multiple-precision numbers find no memory.
TEST(MemoryLimits, TheEngineMeetsEveryLimit)
{
    constexpr unsigned kWanted = 3;
    constexpr std::size_t KiB = 1024, MiB = 1024 * KiB;
    const double expected = quadrilo::firstKindReference(0.01, 60).sum;
    const auto check = [&](std::size_t extra) {
        const int outcome = engineUnder(extra, kWanted, expected);
        EXPECT_NE(outcome, Aborted) << "at " << extra / KiB << " KiB over";
        EXPECT_NE(outcome, WrongSum) << "at " << extra / KiB << " KiB over";
        return outcome;
    };
    const auto workersAt = [&](std::size_t extra) {
        const int outcome = check(extra);
        return outcome >= 1 && outcome <= static_cast<int>(kWanted) ? outcome : 0;
    };

    std::size_t below = 0;
    for (unsigned more = 1; more <= kWanted; ++more) {
        // The first limit with `more` workers, found in steps of 4 MiB...
        std::size_t above = below;
        while (workersAt(above) < static_cast<int>(more) && above < 64 * MiB)
            above += 4 * MiB;
        ASSERT_GE(workersAt(above), static_cast<int>(more)) << "no limit under 64 MiB gives " << more;
        // ...then to within 4 KiB...
        std::size_t low = above < 4 * MiB ? 0 : above - 4 * MiB;
        while (above - low > 4 * KiB) {
            const std::size_t middle = (low + above) / 2 / (4 * KiB) * (4 * KiB);
            (workersAt(middle) >= static_cast<int>(more) ? above : low) = middle;
        }
        // ...and every 8 KiB of the 256 KiB under it.
        for (std::size_t extra = above > 256 * KiB ? above - 256 * KiB : 0; extra < above; extra += 8 * KiB)
            check(extra);
        below = above;
    }
}

} // namespace
