#pragma once

#include "compute/kernels/kernels.h"
#include "compute/request.h"
#include "compute/threads/crew.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace quadrilo {

// What summing by periods did in an evaluation, for the benchmarks and tests.
struct PeriodWork {
    std::uint64_t stretches = 0;     // counted by periods
    std::uint64_t flatStretches = 0; // where every term had one level
    std::uint64_t passes = 0;        // in those two kinds of stretch
    std::uint64_t changes = 0;       // of a residue's level, found
    std::uint64_t estimates = 0;     // levels an estimate settled
    std::uint64_t madeTerms = 0;     // made one at a time, exactly
    std::uint64_t splits = 0;        // residues split where they pass an extremum
    std::uint64_t ties = 0;          // settled inside stretches
    std::uint64_t cutAtTies = 0;     // stretches cut short before a tie
    std::uint64_t overflows = 0;     // stretches cut short before S's binade ends
    std::uint64_t bandStretches = 0; // counted by bands
    std::uint64_t edges = 0;         // of half units, that those stretches counted across
    std::uint64_t floorSums = 0;     // that they took
    std::uint64_t peakPasses = 0;    // near the peaks, past their top edge: their terms made
};

struct Evaluation {
    double sum = 0.0;
    std::uint64_t passes = 0;
    double lastCounter = 0.0; // 0 when no pass ran
    PeriodWork periods;
};

// Called, from one of the evaluating threads at a time, each time a further
// block of passes is summed, with the passes summed so far (of
// request.plan.passes). Returning false stops the evaluation.
using ProgressFn = std::function<bool(std::uint64_t passesDone)>;

// When the first kind is summed by periods (periods/stretch.h).
struct PeriodSettings {
    bool enabled = true;
    double from = 4096.0; // radians: below, passes are summed one by one
    // For the tests: at most this many periods a stretch (0: no limit),
    // whatever they cost, and each stretch planned this many times too long
    // for S's binade, which its count then cuts short.
    std::uint64_t mostPeriods = 0;
    double overreach = 1.0;
    std::uint64_t longestPeriod = std::uint64_t{1} << 36; // passes
    // Stretches of more periods are cut short at a tie, which then goes
    // pass by pass, instead of settling it in place.
    std::uint64_t mostSettled = std::uint64_t{1} << 20;
    // Stretches counted by bands (periods/bands.h) where that costs least;
    // for the tests, wherever they can be.
    bool bands = true;
    bool alwaysBands = false;
    std::uint64_t mostBandTies = 16; // settled in a stretch by bands; past that, cut short
};

struct EngineSettings {
    unsigned workers = 0;      // threads that compute; 0: one per core
    Isa isa = bestIsa();       // lowered to what the processor has
    ThreadFactory startThread; // how the workers start; empty: std::thread
    PeriodSettings periods;
};

// The rectangle sums with the bits of the plain loop, computed in parallel.
// It owns its worker threads, their buffers and the sines that every
// evaluation needs again; creating it prepares all of them, so that the
// first evaluation is as fast as the next. One evaluation at a time; a
// second caller waits for the first.
class Engine {
public:
    explicit Engine(EngineSettings settings = {});
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    unsigned workers() const;
    Isa isa() const;

    // The share of the current evaluation's planned work done so far, from
    // 0 to 1: its passes where they go one by one, and the estimated cost of
    // its stretches by periods. For the time left; safe to read from any
    // thread while an evaluation runs.
    double workShare() const;

    // Throws RuntimeError(DivisionByZero) when a first-kind root is 0.
    // Returns nothing when `progress` asked to stop.
    std::optional<Evaluation> evaluate(const Request& request, const ProgressFn& progress = {});

    std::optional<Evaluation> firstKind(double phi, double degrees, const ProgressFn& progress = {})
    {
        return evaluate(firstKindRequest(phi, degrees), progress);
    }
    std::optional<Evaluation> secondKind(const ProgressFn& progress = {})
    {
        return evaluate(secondKindRequest(), progress);
    }

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace quadrilo
