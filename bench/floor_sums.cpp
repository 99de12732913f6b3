// Floor sums of the bands' shape: a slope near 2^-21.6 of the modulus, a
// start anywhere below it, 2^47 passes in 256 bits and 2^44 in 128, as a
// count at nearly a right angle takes them. Per sum, one slope's steps
// made once for many starts.
#include "compute/exact/floor_sum.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using quadrilo::Big;
using quadrilo::Wide;

template <class U>
U randomBelow(std::mt19937_64& random, int bits)
{
    U x = 0;
    for (int i = 0; i < bits; i += 64)
        x = (x << 64) | random();
    return x & ((U{1} << bits) - 1);
}

template <class U>
void Sums(benchmark::State& state, int bits, std::uint64_t passes)
{
    std::mt19937_64 random(1);
    const U m = U{1} << bits;
    const U a = (m >> 22) | randomBelow<U>(random, bits - 22); // as sigma / pi, for a stride near 10^-6
    std::vector<U> starts(1024);
    for (U& b : starts)
        b = randomBelow<U>(random, bits);
    const quadrilo::FloorSums<U> sums(m, a);
    std::size_t i = 0;
    for (auto _ : state) {
        const auto sum = sums(passes, starts[i++ % starts.size()]);
        if (!sum)
            state.SkipWithError("past the width");
        benchmark::DoNotOptimize(sum);
    }
}

void Big2p47(benchmark::State& state) { Sums<Big>(state, 168, std::uint64_t{1} << 47); }
void Wide2p44(benchmark::State& state) { Sums<Wide>(state, 100, std::uint64_t{1} << 44); }

} // namespace

BENCHMARK(Big2p47)->Unit(benchmark::kMicrosecond);
BENCHMARK(Wide2p44)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
