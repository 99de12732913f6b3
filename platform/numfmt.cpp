#include "platform/numfmt.h"

#include <array>
#include <charconv>
#include <algorithm>
#include <clocale>
#include <cmath>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

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

std::string formatPercent(double percent, int decimals, std::string_view separator)
{
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), percent,
                                      std::chars_format::fixed, decimals);
    std::string text(buffer.data(), result.ptr);
    if (const auto point = text.find('.'); point != std::string::npos)
        text.replace(point, 1, separator);
    return text + " %";
}

std::string formatSignificant(double value, int digits, std::string_view separator)
{
    if (value == 0)
        return "0";
    std::array<char, 64> buffer{};
    // d.ddde±x: the digits and the decimal exponent, rounded once.
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value),
                                      std::chars_format::scientific, digits - 1);
    const std::string_view text(buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data()));
    const auto e = text.find('e');
    std::string mantissa;
    for (const char c : text.substr(0, e))
        if (c != '.')
            mantissa += c;
    int exponent = 0;
    std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exponent);

    std::string out = std::signbit(value) && value != 0 ? "-" : "";
    if (exponent < -9 || exponent > 15) {
        out.append(mantissa, 0, 1);
        if (mantissa.size() > 1)
            out.append(separator).append(mantissa, 1);
        return out + "E" + std::to_string(exponent);
    }
    if (exponent < 0) {
        out.append("0").append(separator).append(static_cast<std::size_t>(-exponent - 1), '0');
        return out + mantissa;
    }
    const auto units = static_cast<std::size_t>(exponent) + 1;
    if (mantissa.size() <= units)
        return out + mantissa + std::string(units - mantissa.size(), '0');
    return out.append(mantissa, 0, units).append(separator).append(mantissa, units);
}

std::string comparisonText(const std::optional<double>& exact, double difference, std::string_view separator)
{
    if (!exact)
        return "L'integrale esatto diverge: con sin\u00B2\u03B1 = 1 la funzione integranda non \u00E8 "
               "limitata in \u03C0/2, e la somma dei rettangoli non lo approssima.";
    return "Integrale esatto: " + formatSignificant(*exact, 10, separator) +
           "\nDifferenza della somma dei rettangoli: " + formatSignificant(difference, 4, separator);
}

#ifdef _WIN32

// Windows keeps the regional settings apart from the C library: the user's
// come from LOCALE_NAME_USER_DEFAULT, with their own changes, and a locale
// name such as "it_IT.UTF-8" is Windows' "it-IT".
std::string decimalSeparatorOf(const char* localeName)
{
    std::string name(localeName);
    name = name.substr(0, name.find_first_of(".@"));
    if (name == "C" || name == "POSIX")
        return ".";
    std::wstring wide(name.begin(), name.end());
    for (wchar_t& c : wide)
        if (c == L'_')
            c = L'-';
    wchar_t separator[8] = {};
    if (GetLocaleInfoEx(name.empty() ? LOCALE_NAME_USER_DEFAULT : wide.c_str(), LOCALE_SDECIMAL, separator, 8) == 0)
        return ".";
    char utf8[32] = {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, separator, -1, utf8, sizeof utf8, nullptr, nullptr);
    return size > 1 ? std::string(utf8, static_cast<std::size_t>(size - 1)) : ".";
}

#else

std::string decimalSeparatorOf(const char* localeName)
{
    const locale_t numeric = newlocale(LC_NUMERIC_MASK, localeName, locale_t{});
    if (numeric == locale_t{})
        return ".";
    std::string separator = nl_langinfo_l(RADIXCHAR, numeric);
    freelocale(numeric);
    return separator.empty() ? "." : separator;
}

#endif

} // namespace quadrilo
