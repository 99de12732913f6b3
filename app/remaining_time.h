#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quadrilo {

// The time an evaluation still needs, from the passes it has done so far,
// told only once it is steady: the last three projections of the whole
// evaluation's time, a second or more apart, within a quarter of each other.
// From then on it follows the latest.
class RemainingTime {
public:
    explicit RemainingTime(std::uint64_t total) : total_(total) {}

    // `elapsed`: seconds since the evaluation began; `done`: passes done.
    std::optional<double> update(double elapsed, std::uint64_t done);

private:
    std::uint64_t total_;
    double lastSample_ = 0.0;
    std::vector<double> recent_;
    bool steady_ = false;
    std::optional<double> shown_;
};

// How many decimals the share done needs, as a percentage, to move about
// once a second at a billion passes a second: one up to 10^12 passes, and
// one more for each tenfold.
int percentDecimals(std::uint64_t total);

// The time left in Italian words, rounded to its largest sensible unit, the
// verb agreeing with it: "manca circa 1 secondo", "mancano circa 3 ore".
std::string timeLeft(double seconds);

} // namespace quadrilo
