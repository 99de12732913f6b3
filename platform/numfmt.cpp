#include "platform/numfmt.h"

#include <array>
#include <charconv>
#include <clocale>
#include <langinfo.h>
#include <locale.h>

namespace quadrilo {

std::string formatFiveDecimals(double value, std::string_view separator)
{
    // 309 integer digits at most, the point and five decimals.
    std::array<char, 320> buffer{};
    // to_chars rounds the exact binary value, so only true ties are ties;
    // those go to even. It never consults the C locale.
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 5);
    std::string_view digits(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));

    const auto point = digits.find('.');
    std::string_view integral = digits.substr(0, point);
    std::string_view fraction = digits.substr(point + 1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);

    std::string text;
    text.reserve(integral.size() + separator.size() + fraction.size());
    text.append(integral).append(separator).append(fraction);
    return text;
}

} // namespace quadrilo

namespace quadrilo {

std::string decimalSeparatorOf(const char* localeName)
{
    const locale_t numeric = newlocale(LC_NUMERIC_MASK, localeName, locale_t{});
    if (numeric == locale_t{})
        return ".";
    std::string separator = nl_langinfo_l(RADIXCHAR, numeric);
    freelocale(numeric);
    return separator.empty() ? "." : separator;
}

} // namespace quadrilo
