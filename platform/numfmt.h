#pragma once

#include <optional>
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

// `value` to `digits` significant digits, trailing zeros kept: in plain
// decimals from 10^-9 to 10^15 ("36,40692106", "-0,0000004215"), otherwise
// with a decimal exponent ("4,215E-12"). `value` must be finite.
std::string formatSignificant(double value, int digits, std::string_view separator);

// What the result label tells beside the sum: the exact integral to 10
// significant digits and the sum's difference from it (sum − exact), or
// that the integral diverges.
std::string comparisonText(const std::optional<double>& exact, double difference, std::string_view separator);

// The decimal separator of the C library's numeric settings for a locale
// name ("" is the user's, from LC_ALL, LC_NUMERIC or LANG), the one source
// the result text takes it from; "." for a locale the system does not have.
std::string decimalSeparatorOf(const char* localeName);

} // namespace quadrilo
