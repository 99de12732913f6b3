// Text-to-number conversion: never crashes, gives a finite value or the
// overflow error, and agrees with the grammar stated once more, independently:
// a regular expression for the leading number, read by strtod in the C locale.
#include "platform/convert.h"
#include "platform/errors.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 600) // the regular expression engine recurses on each character
        return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);

    static const std::regex leading(R"(^[ \t]*([+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?))");
    std::smatch match;
    double expected = 0.0;
    bool overflow = false;
    if (std::regex_search(text, match, leading)) {
        const std::string number = match[1].str();
        errno = 0;
        expected = std::strtod(number.c_str(), nullptr);
        overflow = std::isinf(expected);
    }

    try {
        const double value = quadrilo::textToNumber(text);
        if (overflow || !std::isfinite(value) || value != expected)
            std::abort();
    } catch (const quadrilo::RuntimeError& error) {
        if (!overflow || error.code() != quadrilo::RuntimeError::Overflow)
            std::abort();
    }
    return 0;
}
