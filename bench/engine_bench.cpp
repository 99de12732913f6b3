// Run with ./scripts/bench. Each benchmark reports ns per pass; the
// straightforward loop with the C library's sine is the yardstick.
#include "compute/engine.h"
#include "compute/reference.h"

#include <benchmark/benchmark.h>

#include <cmath>

namespace {

using quadrilo::Isa;
using quadrilo::kPi;
using quadrilo::kStep;

// The loop as the calculator was first written: every pass forms alpha and
// its squared sine again, with the C library's sine.
double straightforward(double end, double degrees, bool firstKind)
{
    double sum = 0.0;
    for (double theta = 0.0; theta <= end; theta += kStep) {
        const double alpha = kPi / 180 * degrees;
        const double m = std::pow(std::sin(alpha), 2);
        const double r = std::sqrt(1.0 - m * std::pow(std::sin(theta), 2));
        sum = (firstKind ? 1.0 / r : r) * kStep + sum;
    }
    return sum;
}

// The same with alpha and m hoisted out of the loop: one sine a pass.
double hoisted(double end, double degrees)
{
    const double m = std::pow(std::sin(kPi / 180 * degrees), 2);
    double sum = 0.0;
    for (double theta = 0.0; theta <= end; theta += kStep)
        sum = 1.0 / std::sqrt(1.0 - m * std::pow(std::sin(theta), 2)) * kStep + sum;
    return sum;
}

// Shown as time per pass, "6.61ns" for instance.
void perPass(benchmark::State& state, std::uint64_t passes)
{
    state.counters["per_pass"] = benchmark::Counter(
        static_cast<double>(passes),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

double phiOf(const benchmark::State& state) { return static_cast<double>(state.range(0)) / 1e7; }

void StraightforwardFirstKind(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(straightforward(phiOf(state), 30, true));
    perPass(state, quadrilo::planPasses(phiOf(state)).passes);
}

void HoistedFirstKind(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(hoisted(phiOf(state), 30));
    perPass(state, quadrilo::planPasses(phiOf(state)).passes);
}

void StraightforwardSecondKind(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(straightforward(quadrilo::kSecondKindEnd, 5, false));
    perPass(state, quadrilo::planPasses(quadrilo::kSecondKindEnd).passes);
}

void ReferenceFirstKind(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(quadrilo::firstKindReference(phiOf(state), 30));
    perPass(state, quadrilo::planPasses(phiOf(state)).passes);
}

void FastFirstKind(benchmark::State& state)
{
    const auto isa = static_cast<Isa>(state.range(1));
    if (!quadrilo::isaSupported(isa)) {
        state.SkipWithError("instruction set not supported here");
        return;
    }
    state.SetLabel(quadrilo::isaName(isa));
    for (auto _ : state)
        benchmark::DoNotOptimize(quadrilo::firstKind(phiOf(state), 30, {}, isa));
    perPass(state, quadrilo::planPasses(phiOf(state)).passes);
}

void FastSecondKind(benchmark::State& state)
{
    const auto isa = static_cast<Isa>(state.range(0));
    if (!quadrilo::isaSupported(isa)) {
        state.SkipWithError("instruction set not supported here");
        return;
    }
    state.SetLabel(quadrilo::isaName(isa));
    for (auto _ : state)
        benchmark::DoNotOptimize(quadrilo::secondKind({}, isa));
    perPass(state, quadrilo::planPasses(quadrilo::kSecondKindEnd).passes);
}

constexpr long kHalfPi = 15707963; // phi * 1e7
constexpr int kBest = static_cast<int>(Isa::Avx512);
constexpr int kScalar = static_cast<int>(Isa::Scalar);

} // namespace

BENCHMARK(StraightforwardFirstKind)->Arg(kHalfPi)->Arg(5000000)->Arg(1000000000)->Unit(benchmark::kMillisecond);
BENCHMARK(HoistedFirstKind)->Arg(kHalfPi)->Unit(benchmark::kMillisecond);
BENCHMARK(StraightforwardSecondKind)->Unit(benchmark::kMillisecond);
BENCHMARK(ReferenceFirstKind)->Arg(kHalfPi)->Unit(benchmark::kMillisecond);
BENCHMARK(FastFirstKind)
    ->Args({kHalfPi, kBest})
    ->Args({kHalfPi, static_cast<int>(Isa::Avx2)})
    ->Args({kHalfPi, kScalar})
    ->Args({5000000, kBest})
    ->Args({1000000000, kBest})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(FastSecondKind)->Arg(kBest)->Arg(kScalar)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
