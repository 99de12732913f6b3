// The first kind summed by periods, against the plain engine where that
// takes under a minute. Run with build/bench/periods [most-seconds]; rows
// whose plain time is projected past the limit (default 60 s) say so.
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
    const double most = argc > 1 ? std::atof(argv[1]) : 60.0;
    quadrilo::EngineSettings periodic, plain;
    plain.periods.enabled = false;
    quadrilo::Engine byPeriods(periodic), onePassAtATime(plain);
    std::printf("%-14s %6s %18s %9s %9s %9s %11s %11s %9s\n", "phi", "alpha", "passes", "time s", "plain s",
                "stretches", "changes", "made terms", "flat");
    // The plain engine's rate, from the first row, projects the others.
    double plainPerPass = 0.0;
    for (double phi : {1000.0, 1e4, 1e6, 1e8, 1e10, 17179869183.9})
        for (double degrees : {30.0, 80.0, 90.0}) {
            auto start = std::chrono::steady_clock::now();
            const auto result = byPeriods.firstKind(phi, degrees);
            const double time = seconds(start);
            const double passes = static_cast<double>(result->passes);
            std::optional<double> plainTime;
            if (plainPerPass == 0.0 || plainPerPass * passes < most) {
                start = std::chrono::steady_clock::now();
                const auto check = onePassAtATime.firstKind(phi, degrees);
                plainTime = seconds(start);
                plainPerPass = *plainTime / passes;
                if (check->sum != result->sum)
                    std::printf("different bits: %a against %a\n", result->sum, check->sum);
            }
            const auto& work = result->periods;
            char plainText[32];
            if (plainTime)
                std::snprintf(plainText, sizeof plainText, "%.2f", *plainTime);
            else
                std::snprintf(plainText, sizeof plainText, "~%.0f", plainPerPass * passes);
            std::printf("%-14.1f %6.0f %18.0f %9.2f %9s %9llu %11llu %11llu %9llu\n", phi, degrees, passes, time,
                        plainText, static_cast<unsigned long long>(work.stretches),
                        static_cast<unsigned long long>(work.changes),
                        static_cast<unsigned long long>(work.madeTerms),
                        static_cast<unsigned long long>(work.flatStretches));
            std::fflush(stdout);
            if (time > 10 * most)
                return 0; // the larger limits would take longer still
        }
}
