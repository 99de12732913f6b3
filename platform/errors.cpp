#include "platform/errors.h"

namespace quadrilo {

std::string RuntimeError::describe(Code code)
{
    switch (code) {
    case Overflow: return "Overflow";
    case DivisionByZero: return "Divisione per zero";
    }
    return "Errore definito dall'applicazione o dall'oggetto";
}

RuntimeError::RuntimeError(Code code)
    : Failure(describe(code)), code_(code)
{
}

std::string RuntimeError::title() const
{
    return "Errore di run-time '" + std::to_string(static_cast<int>(code_)) + "'";
}

std::string Failure::describe(std::string_view) const
{
    return what();
}

namespace {
std::string refusal(InputRefused::Reason reason, std::string_view separator)
{
    switch (reason) {
    case InputRefused::LimitTooLarge: break;
    }
    return "Il limite superiore è troppo grande: con il passo 0" + std::string(separator) +
           "000001 il calcolo non finirebbe mai. Inserire un valore minore di 17179869184.";
}
} // namespace

InputRefused::InputRefused(Reason reason) : Failure(refusal(reason, ".")), reason_(reason) {}

std::string InputRefused::title() const
{
    return "Valore non accettato";
}

std::string InputRefused::describe(std::string_view separator) const
{
    return refusal(reason_, separator);
}

} // namespace quadrilo
