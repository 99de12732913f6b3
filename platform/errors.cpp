#include "platform/errors.h"

#include <charconv>

namespace quadrilo {

const char* RuntimeError::describe(Code code) noexcept
{
    switch (code) {
    case Overflow: return "Overflow";
    case OutOfMemory: return "Memoria esaurita";
    case DivisionByZero: return "Divisione per zero";
    }
    return "Errore definito dall'applicazione o dall'oggetto";
}

RuntimeError::RuntimeError(Code code) noexcept : Failure(describe(code)), code_(code) {}

std::string RuntimeError::title() const
{
    return "Errore di run-time '" + std::to_string(static_cast<int>(code_)) + "'";
}

std::string Failure::describe(std::string_view) const
{
    return what();
}

namespace {
// The report's first sentence; describe() gives the whole of it.
const char* refusal(InputRefused::Reason reason) noexcept
{
    switch (reason) {
    case InputRefused::LimitTooLarge: break;
    }
    return "Il limite superiore è troppo grande.";
}

// x with `decimals` decimals, whatever the locale, its point as `separator`.
std::string fixed(double x, int decimals, std::string_view separator)
{
    char digits[64];
    const auto end = std::to_chars(digits, digits + sizeof digits, x, std::chars_format::fixed, decimals).ptr;
    std::string text(digits, end);
    if (const std::size_t point = text.find('.'); point != std::string::npos)
        text.replace(point, 1, separator);
    return text;
}
} // namespace

InputRefused::InputRefused(Reason reason, double step, double bound) noexcept
    : Failure(refusal(reason)), reason_(reason), step_(step), bound_(bound)
{
}

std::string InputRefused::title() const
{
    return "Valore non accettato";
}

std::string InputRefused::describe(std::string_view separator) const
{
    return "Il limite superiore è troppo grande: con il passo " + fixed(step_, 6, separator) +
           " il calcolo non finirebbe mai. Inserire un valore minore di " + fixed(bound_, 0, separator) + ".";
}

} // namespace quadrilo
