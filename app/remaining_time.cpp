#include "app/remaining_time.h"

#include <algorithm>
#include <cmath>

namespace quadrilo {

std::optional<double> RemainingTime::update(double elapsed, std::uint64_t done)
{
    if (done == 0 || elapsed < lastSample_ + 1.0)
        return shown_;
    lastSample_ = elapsed;
    // The whole evaluation's time as the rate so far projects it: constant
    // while the rate is.
    const double whole = elapsed * static_cast<double>(total_) / static_cast<double>(std::min(done, total_));
    recent_.push_back(whole);
    if (recent_.size() > 3)
        recent_.erase(recent_.begin());
    if (!steady_ && recent_.size() == 3) {
        const auto [low, high] = std::minmax_element(recent_.begin(), recent_.end());
        steady_ = *high <= *low * 1.25;
    }
    if (steady_)
        shown_ = std::max(0.0, whole - elapsed);
    return shown_;
}

int percentDecimals(std::uint64_t total)
{
    const int digits = static_cast<int>(std::ceil(std::log10(static_cast<double>(std::max<std::uint64_t>(total, 1)))));
    return std::clamp(digits - 11, 1, 8);
}

std::string timeLeft(double seconds)
{
    struct Unit {
        double seconds;
        double upTo; // beyond this many, the next unit
        const char* one;
        const char* many;
    };
    static constexpr Unit units[] = {
        {1, 90, "secondo", "secondi"},           {60, 90, "minuto", "minuti"},
        {3600, 36, "ora", "ore"},                {86400, 60, "giorno", "giorni"},
        {30.436875 * 86400, 24, "mese", "mesi"}, {365.2425 * 86400, 1e300, "anno", "anni"},
    };
    for (const Unit& unit : units) {
        const double count = std::max(1.0, std::round(seconds / unit.seconds));
        if (count < unit.upTo) {
            const bool one = count == 1;
            return std::string(one ? "manca circa 1 " : "mancano circa ") +
                   (one ? unit.one : std::to_string(static_cast<long long>(count)) + " " + unit.many);
        }
    }
    return "";
}

} // namespace quadrilo
