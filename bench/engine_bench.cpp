// Run with ./scripts/bench. Each benchmark reports ns per pass. Two
// yardsticks: the straightforward loop with the C library's sine, and the
// floor, the same number of passes doing nothing but a vector square root
// and a division on every core. After the runs a table gives the engine's
// ratio to both.
#include "compute/engine.h"
#include "compute/exact/exact_sum.h"
#include "compute/exact/sine.h"
#include "compute/kernels/kernels.h"
#include "compute/loop/passes.h"
#include "compute/threads/crew.h"
#include "compute/yardsticks/exact_integral.h"
#include "compute/yardsticks/reference.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

std::uint64_t passesTo(double end) { return quadrilo::planPasses(end).passes; }

void perPass(benchmark::State& state, std::uint64_t passes)
{
    state.counters["per_pass"] = benchmark::Counter(
        static_cast<double>(passes),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One engine per instruction set, made outside the timed loops.
quadrilo::Engine& engineFor(Isa isa)
{
    static std::map<Isa, std::unique_ptr<quadrilo::Engine>> engines;
    auto& engine = engines[isa];
    if (!engine)
        engine = std::make_unique<quadrilo::Engine>(quadrilo::EngineSettings{0, isa, {}, {}});
    return *engine;
}

void Straightforward(benchmark::State& state, double phi)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(straightforward(phi, 30, true));
    perPass(state, passesTo(phi));
}

void Reference(benchmark::State& state, double phi)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(quadrilo::firstKindReference(phi, 30));
    perPass(state, passesTo(phi));
}

void Engine(benchmark::State& state, Isa isa, double phi)
{
    quadrilo::Engine& engine = engineFor(isa);
    const quadrilo::Request request = quadrilo::firstKindRequest(phi, 30);
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.evaluate(request));
    perPass(state, request.plan.passes);
}

void SecondKind(benchmark::State& state, Isa isa)
{
    quadrilo::Engine& engine = engineFor(isa);
    const quadrilo::Request request = quadrilo::secondKindRequest();
    for (auto _ : state)
        benchmark::DoNotOptimize(engine.evaluate(request));
    perPass(state, request.plan.passes);
}

// The same passes as the engine makes, each only a square root and a
// division in the widest vectors, spread over the engine's workers.
void Floor(benchmark::State& state, Isa isa, double phi)
{
    const auto& kernel = quadrilo::kernel::forIsa(isa);
    const std::uint64_t passes = passesTo(phi);
    const unsigned cores = engineFor(isa).workers();
    quadrilo::Crew crew(cores, [](std::function<void()> body) { return std::thread(std::move(body)); },
                        [](const std::function<void()>& serve) { serve(); });
    std::vector<double> results(crew.size());
    const std::function<void(unsigned)> job = [&](unsigned i) {
        results[i] = kernel.floor(passes / crew.size());
    };
    for (auto _ : state) {
        crew.run(job);
        benchmark::DoNotOptimize(results.data());
    }
    perPass(state, passes);
}

// The runs of a limit's passes, cut where the engine's blocks and the
// segments end, each with its first point's sine and cosine from MPFR.
std::vector<quadrilo::kernel::Run> runsTo(double phi, std::size_t lanes)
{
    constexpr std::uint64_t kBlock = quadrilo::kernel::kMaxRun;
    std::vector<quadrilo::kernel::Run> runs;
    for (const quadrilo::Segment& segment : quadrilo::planPasses(phi).segments) {
        quadrilo::kernel::Run run;
        run.base = segment.base;
        run.stride = segment.stride;
        quadrilo::sinCosOfMultiple(run.stride, 1, run.sinStride, run.cosStride);
        quadrilo::sinCosOfMultiple(run.stride, static_cast<unsigned>(lanes), run.sinLeap, run.cosLeap);
        for (std::uint64_t pass = segment.firstPass; pass < segment.firstPass + segment.count;) {
            const std::uint64_t end = std::min((pass / kBlock + 1) * kBlock, segment.firstPass + segment.count);
            run.first = static_cast<double>(pass - segment.firstPass);
            run.count = end - pass;
            quadrilo::sinCosOfMultiple(segment.point(pass), 1, run.sinFirst, run.cosFirst);
            runs.push_back(run);
            pass = end;
        }
    }
    return runs;
}

// The runs up to phi at 30 degrees shared out over the engine's workers as
// it shares them, each worker with a buffer of its own and nothing adding
// the blocks: `units` counts run r in that buffer. The runs' sines and
// scales are found before the timing.
using CountRun = std::function<double(std::size_t r, double* buffer)>;

void timeRuns(benchmark::State& state, Isa isa, double phi, const std::vector<quadrilo::kernel::Run>& runs,
              const CountRun& units)
{
    quadrilo::Crew crew(engineFor(isa).workers(), [](std::function<void()> body) { return std::thread(std::move(body)); },
                        [](const std::function<void()>& serve) { serve(); });
    std::vector<std::vector<double>> buffers(crew.size(),
                                             std::vector<double>(quadrilo::kernel::kMaxRun + quadrilo::kernel::kMaxLanes));
    std::vector<double> counts(crew.size());
    const std::function<void(unsigned)> job = [&](unsigned i) {
        double count = 0.0;
        for (std::size_t r = i; r < runs.size(); r += crew.size())
            count += units(r, buffers[i].data());
        counts[i] = count;
    };
    for (auto _ : state) {
        crew.run(job);
        benchmark::DoNotOptimize(counts.data());
    }
    perPass(state, passesTo(phi));
}

// The exact kernel alone: it makes and counts the terms of every run.
void Kernel(benchmark::State& state, Isa isa, double phi)
{
    const auto& kernel = quadrilo::kernel::forIsa(isa);
    const auto runs = runsTo(phi, kernel.lanes);
    const double m = quadrilo::firstKindRequest(phi, 30).m;
    timeRuns(state, isa, phi, runs, [&](std::size_t r, double* buffer) {
        bool exact = false;
        return kernel.terms(runs[r], m, quadrilo::Kind::First, 0x1p40, buffer, &exact);
    });
}

// The sum's scale at each run's first point, from the exact integral.
std::vector<double> scalesOf(const std::vector<quadrilo::kernel::Run>& runs, double m)
{
    std::vector<double> scales;
    for (const auto& run : runs) {
        const auto integral = quadrilo::legendreF(run.base + run.first * run.stride, m);
        scales.push_back(integral ? quadrilo::ExactSum::scaleOf(*integral) : 0.0);
    }
    return scales;
}

// The counting kernel alone: each run counted at the sum's scale where the
// kernel takes it, made and counted by the exact kernel where not.
void Count(benchmark::State& state, Isa isa, double phi)
{
    const auto& kernel = quadrilo::kernel::forIsa(isa);
    const auto runs = runsTo(phi, kernel.lanes);
    const double m = quadrilo::firstKindRequest(phi, 30).m;
    const auto scales = scalesOf(runs, m);
    timeRuns(state, isa, phi, runs, [&](std::size_t r, double* buffer) {
        bool exact = false;
        const double units = kernel.count(runs[r], m, scales[r], &exact);
        return std::isnan(units) ? kernel.terms(runs[r], m, quadrilo::Kind::First, scales[r], buffer, &exact) : units;
    });
}

// How often the counting kernel leaves a vector of lanes to the exact
// terms, by the binade of S, over every 8th run up to phi at 30 degrees.
void printRefusals(Isa isa, double phi)
{
    const auto& kernel = quadrilo::kernel::forIsa(isa);
    if (!kernel.countProbe)
        return;
    const auto runs = runsTo(phi, kernel.lanes);
    const double m = quadrilo::firstKindRequest(phi, 30).m;
    const auto scales = scalesOf(runs, m);
    std::map<int, std::pair<double, double>> byBinade; // vectors, refused
    std::map<int, int> declined;
    std::vector<double> p(quadrilo::kernel::kMaxRun + quadrilo::kernel::kMaxLanes), x(p.size());
    const std::size_t width = isa == Isa::Avx512 ? 8 : 4;
    for (std::size_t r = 0; r < runs.size(); r += 8) {
        if (scales[r] == 0.0)
            continue;
        const int binade = 53 - static_cast<int>(std::log2(scales[r])) - 1; // S in [2^b, 2^(b+1))
        const auto bound = kernel.countProbe(runs[r], m, scales[r], p.data(), x.data());
        if (bound.declined || bound.rho == 0.0) {
            ++declined[binade];
            continue;
        }
        auto& [vectors, refused] = byBinade[binade];
        for (std::size_t v = 0; v + width <= runs[r].count; v += width) {
            bool any = false;
            for (std::size_t l = v; l < v + width; ++l) {
                any = any || std::fabs(x[l] - std::nearbyint(x[l])) >= bound.within;
            }
            vectors += 1;
            refused += any;
        }
    }
    std::printf("\n%s, phi %g, 30 degrees: vectors of %zu lanes left to the exact terms, by S (every 8th run)\n",
                quadrilo::isaName(isa), phi, width);
    for (const auto& [binade, tally] : byBinade)
        std::printf("  S in [2^%d, 2^%d): %.2e of %.0f vectors\n", binade, binade + 1, tally.second / tally.first,
                    tally.first);
    for (const auto& [binade, runsDeclined] : declined)
        std::printf("  S in [2^%d, 2^%d): %d runs declined\n", binade, binade + 1, runsDeclined);
}

// The time of the first evaluation of a new engine, and of the next one.
void FirstEvaluation(benchmark::State& state, bool first)
{
    const quadrilo::Request request = quadrilo::firstKindRequest(1.5707963, 30);
    for (auto _ : state) {
        state.PauseTiming();
        auto engine = std::make_unique<quadrilo::Engine>();
        if (!first)
            benchmark::DoNotOptimize(engine->evaluate(request));
        state.ResumeTiming();
        benchmark::DoNotOptimize(engine->evaluate(request));
        state.PauseTiming();
        engine.reset();
        state.ResumeTiming();
    }
}

// The library puts a row's minimum time in its name; the table looks rows up
// without it.
std::string withoutMinTime(std::string name)
{
    if (const auto at = name.find("/min_time:"); at != std::string::npos)
        name.erase(at, name.find('/', at + 1) - at);
    return name;
}

// Keeps every row's time per pass for the table after the runs.
class Reporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> perPass;

    // A row timed over fewer iterations than this is too noisy for a ratio.
    static constexpr benchmark::IterationCount kEnough = 3;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        // With repetitions, the median stands for the row.
        for (const Run& run : runs)
            if (const auto it = run.counters.find("per_pass"); it != run.counters.end() && !run.error_occurred &&
                (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") &&
                (run.run_type == Run::RT_Aggregate || run.iterations >= kEnough))
                perPass[withoutMinTime(run.run_name.str())] = it->second;
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string row(const char* what, const std::string& isa, const char* phi)
{
    return std::string(what) + "/" + isa + "/" + phi;
}

// As the library names a row measured in real time.
std::string timed(const std::string& row) { return row + "/real_time"; }

} // namespace

int main(int argc, char** argv)
{
    struct Limit {
        const char* name;
        double phi;
    };
    const std::vector<Limit> limits = {{"1.5707963", 1.5707963}, {"100", 100.0}, {"1000", 1000.0}};
    std::vector<Isa> isas;
    for (Isa isa : {Isa::Avx512, Isa::Avx2, Isa::Scalar})
        if (quadrilo::isaSupported(isa))
            isas.push_back(isa);

    // Each row runs at least three times: one long iteration alone says
    // more about the machine's neighbours than about the code.
    for (const Limit& limit : {limits[0], limits[1]})
        benchmark::RegisterBenchmark(row("Straightforward", "libm", limit.name).c_str(),
                                     Straightforward, limit.phi)
            ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(limit.phi > 10 ? 4.0 : 0.5);
    benchmark::RegisterBenchmark(row("Reference", "mpfr", limits[0].name).c_str(), Reference, limits[0].phi)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    for (Isa isa : isas) {
        const std::string name = quadrilo::isaName(isa);
        for (const Limit& limit : limits) {
            const double minTime = limit.phi > 100 ? (isa == Isa::Scalar ? 12.0 : 2.5) : 0.5;
            benchmark::RegisterBenchmark(row("Floor", name, limit.name).c_str(), Floor, isa, limit.phi)
                ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(minTime);
            benchmark::RegisterBenchmark(row("Engine", name, limit.name).c_str(), Engine, isa, limit.phi)
                ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(minTime);
            if (limit.phi == 1000.0)
                benchmark::RegisterBenchmark(row("Kernel", name, limit.name).c_str(), Kernel, isa, limit.phi)
                    ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(minTime);
            if (limit.phi == 1000.0 && quadrilo::kernel::forIsa(isa).count)
                benchmark::RegisterBenchmark(row("Count", name, limit.name).c_str(), Count, isa, limit.phi)
                    ->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(minTime);
        }
        benchmark::RegisterBenchmark(("SecondKind/" + name).c_str(), SecondKind, isa)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    benchmark::RegisterBenchmark("FirstEvaluation/new_engine", FirstEvaluation, true)
        ->Unit(benchmark::kMillisecond)->Iterations(20);
    benchmark::RegisterBenchmark("FirstEvaluation/second_one", FirstEvaluation, false)
        ->Unit(benchmark::kMillisecond)->Iterations(20);

    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // The straightforward loop takes about half a minute at phi = 1000; its
    // time per pass there is taken from phi = 100.
    std::printf("\nengine, first kind, ns per pass (ratio to the floor; speed-up over the "
                "straightforward loop); rows timed fewer than %d times are left out\n",
                static_cast<int>(Reporter::kEnough));
    for (Isa isa : isas) {
        const std::string name = quadrilo::isaName(isa);
        for (const Limit& limit : limits) {
            const auto engine = reporter.perPass.find(timed(row("Engine", name, limit.name)));
            const auto floor = reporter.perPass.find(timed(row("Floor", name, limit.name)));
            auto plain = reporter.perPass.find(timed(row("Straightforward", "libm", limit.name)));
            if (plain == reporter.perPass.end())
                plain = reporter.perPass.find(timed(row("Straightforward", "libm", "100")));
            if (engine == reporter.perPass.end() || floor == reporter.perPass.end())
                continue;
            std::printf("  %-6s phi %-10s %7.3f ns  floor %5.2fx", name.c_str(), limit.name,
                        engine->second * 1e9, engine->second / floor->second);
            if (plain != reporter.perPass.end())
                std::printf("  straightforward /%6.1f", plain->second / engine->second);
            if (const auto kernel = reporter.perPass.find(timed(row("Kernel", name, limit.name)));
                kernel != reporter.perPass.end())
                std::printf("  exact kernel alone: floor %5.2fx", kernel->second / floor->second);
            if (const auto count = reporter.perPass.find(timed(row("Count", name, limit.name)));
                count != reporter.perPass.end())
                std::printf("  counting kernel alone: floor %5.2fx", count->second / floor->second);
            std::printf("\n");
        }
    }
    for (Isa isa : isas)
        printRefusals(isa, 1000);
    benchmark::Shutdown();
}
