#include "platform/errors.h"

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
// The report, its one decimal number written 0.000001.
const char* refusal(InputRefused::Reason reason) noexcept
{
    switch (reason) {
    case InputRefused::LimitTooLarge: break;
    }
    return "Il limite superiore è troppo grande: con il passo 0.000001 il calcolo non finirebbe mai. "
           "Inserire un valore minore di 17179869184.";
}
} // namespace

InputRefused::InputRefused(Reason reason) noexcept : Failure(refusal(reason)), reason_(reason) {}

std::string InputRefused::title() const
{
    return "Valore non accettato";
}

std::string InputRefused::describe(std::string_view separator) const
{
    std::string text = what();
    const std::size_t at = text.find("0.000001");
    text.replace(at + 1, 1, separator);
    return text;
}

} // namespace quadrilo
