// The first kind summed by periods and bands, against the plain engine
// where that takes under a minute. Run with build/bench/periods [seconds]: a
// row still running after that many seconds (default 120) is stopped, and
// its time is projected from the share of its planned work done; the plain
// engine's time is projected from its rate on the rows before.
#include "compute/engine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

double seconds(const std::chrono::steady_clock::time_point& since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv)
{
    const double most = argc > 1 ? std::atof(argv[1]) : 120.0;
    quadrilo::EngineSettings plain;
    plain.periods.enabled = false;
    quadrilo::Engine byPeriods{quadrilo::EngineSettings{}}, onePassAtATime(plain);
    std::printf("%-14s %5s %17s %10s %10s %9s %6s %11s %8s %6s %6s %9s %10s %11s\n", "phi", "alpha", "passes",
                "time s", "plain s", "stretches", "flat", "changes", "made", "ties", "bands", "edges", "floor sums",
                "peak passes");
    double plainPerPass = 0.0; // from the last row that ran it
    for (double phi : {1000.0, 1e4, 1e6, 1e8, 1e10, 17179869183.9})
        for (double degrees : {30.0, 80.0, 90.0}) {
            auto start = std::chrono::steady_clock::now();
            const auto result = byPeriods.firstKind(phi, degrees, [&](std::uint64_t) { return seconds(start) < most; });
            const double time = seconds(start);
            const auto request = quadrilo::firstKindRequest(phi, degrees);
            const double passes = static_cast<double>(request.plan.passes);
            char timeText[32];
            if (result)
                std::snprintf(timeText, sizeof timeText, "%.2f", time);
            else
                std::snprintf(timeText, sizeof timeText, "~%.0f", time / byPeriods.workShare());
            std::optional<double> plainTime;
            if (plainPerPass == 0.0 || plainPerPass * passes < 60) {
                start = std::chrono::steady_clock::now();
                const auto check = onePassAtATime.firstKind(phi, degrees);
                plainTime = seconds(start);
                plainPerPass = *plainTime / passes;
                if (result && check->sum != result->sum)
                    std::printf("different bits: %a against %a\n", result->sum, check->sum);
            }
            char plainText[32];
            if (plainTime)
                std::snprintf(plainText, sizeof plainText, "%.2f", *plainTime);
            else
                std::snprintf(plainText, sizeof plainText, "~%.0f", plainPerPass * passes);
            const quadrilo::PeriodWork work = result ? result->periods : quadrilo::PeriodWork{};
            const auto count = [](std::uint64_t n) { return static_cast<unsigned long long>(n); };
            std::printf("%-14.1f %5.0f %17.0f %10s %10s %9llu %6llu %11llu %8llu %6llu %6llu %9llu %10llu %11llu\n",
                        phi, degrees, passes, timeText, plainText, count(work.stretches), count(work.flatStretches),
                        count(work.changes), count(work.madeTerms), count(work.ties), count(work.bandStretches),
                        count(work.edges), count(work.floorSums), count(work.peakPasses));
            std::fflush(stdout);
        }
}
