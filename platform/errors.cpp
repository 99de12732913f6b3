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

std::string InputRefused::title() const
{
    return "Valore non accettato";
}

} // namespace quadrilo
