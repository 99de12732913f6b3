#include "platform/convert.h"

#include "platform/errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace quadrilo {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

// Grammar of the leading number, after any spaces and tabs:
//   [+|-] digits [ "." digits ] [ (e|E) [+|-] digit digits ]
// where either digit run may be empty but not both. A second sign, a second
// full stop, a blank, or an exponent letter not followed by a digit ends the
// number, and the rest of the text is ignored ("--5" and "+-5" give 0,
// "5-3" gives 5, "1.2.3" gives 1.2, "2e" gives 2). A magnitude too small for a
// double gives 0; one too large is an overflow error, never infinity.
double textToNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;

    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }

    const std::size_t mantissaBegin = i;
    std::size_t intDigits = 0;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
        ++intDigits;
    }
    std::size_t fracDigits = 0;
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        while (j < text.size() && isDigit(text[j]))
            ++j;
        fracDigits = j - i - 1;
        i = j;
    }
    if (intDigits == 0 && fracDigits == 0)
        return 0.0;

    std::size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            end = j;
        }
    }

    // from_chars wants no sign.
    const std::string number(text.substr(mantissaBegin, end - mantissaBegin));

    double magnitude = 0.0;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(),
                                           magnitude, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Out of range either way: the decimal exponent of the first nonzero
        // digit (there is one, or the number would be 0) tells overflow from
        // underflow. Such a number is hundreds of places from 1, so counting
        // the full stop as a place does not matter.
        const auto digit = number.find_first_of("123456789");
        const long long leading = static_cast<long long>(intDigits) - 1 - static_cast<long long>(digit);
        // Far beyond any double either way; clamped so the sum below cannot overflow.
        constexpr long long kFar = 1'000'000;
        long long exponent = 0;
        if (const auto e = number.find_first_of("eE"); e != std::string::npos) {
            const char* first = number.data() + e + 1;
            if (*first == '+')
                ++first;
            if (std::from_chars(first, number.data() + number.size(), exponent).ec != std::errc{})
                exponent = (*first == '-') ? -kFar : kFar;
            exponent = std::clamp(exponent, -kFar, kFar);
        }
        if (leading + exponent >= 0)
            throw RuntimeError(RuntimeError::Overflow);
        return 0.0;
    }
    if (ec != std::errc{} || ptr != number.data() + number.size())
        return 0.0; // cannot happen for text that matched the grammar above
    return negative ? -magnitude : magnitude;
}

} // namespace quadrilo
