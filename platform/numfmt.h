#pragma once

#include <string>
#include <string_view>

namespace quadrilo {

// `value` as the number pattern "0.#####": the integer part in full without
// grouping, the fraction correctly rounded to five decimals with its trailing
// zeros left out, and `separator` always shown ("0," for zero under Italian
// settings). `value` must be finite and not negative.
std::string formatFiveDecimals(double value, std::string_view separator);

} // namespace quadrilo
