// The result text: for any finite sum >= 0 it has the shape digits, separator,
// at most five digits without a trailing zero, and reads back within half a
// unit of the fifth decimal.
#include "platform/numfmt.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 9)
        return 0;
    double value = 0.0;
    std::memcpy(&value, data, sizeof value);
    if (!std::isfinite(value) || value < 0.0 || std::signbit(value))
        return 0;
    const std::string separator = data[8] & 1 ? "," : ".";
    const std::string text = quadrilo::formatFiveDecimals(value, separator);

    static const std::regex shape(R"((0|[1-9][0-9]*)([.,])([0-9]{0,4}[1-9])?)");
    std::smatch parts;
    if (!std::regex_match(text, parts, shape) || parts[2] != separator)
        std::abort();
    const double back = std::strtod((parts[1].str() + "." + parts[3].str()).c_str(), nullptr);
    // Half a unit of the fifth decimal, and the rounding of the read-back.
    const double slack = 0.5e-5 + std::ldexp(std::abs(value), -50);
    if (!(std::abs(back - value) <= slack))
        std::abort();
    return 0;
}
