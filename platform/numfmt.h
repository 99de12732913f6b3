#pragma once

#include <string>
#include <string_view>

namespace quadrilo {

// `value` as the number pattern "0.#####": the integer part in full without
// grouping, the fraction correctly rounded to five decimals with its trailing
// zeros left out, and `separator` always shown ("0," for zero under Italian
// settings). `value` must be finite and not negative.
std::string formatFiveDecimals(double value, std::string_view separator);

// `percent` with `decimals` decimals and " %": "12,5 %".
std::string formatPercent(double percent, int decimals, std::string_view separator);

// A duration in Italian words, rounded to its largest sensible unit:
// "circa 40 secondi", "circa 1 minuto", "circa 3 ore", "circa 2 mesi".
std::string aboutDuration(double seconds);

// The decimal separator of the C library's numeric settings for a locale
// name ("" is the user's, from LC_ALL, LC_NUMERIC or LANG), the one source
// the result text takes it from; "." for a locale the system does not have.
std::string decimalSeparatorOf(const char* localeName);

} // namespace quadrilo
