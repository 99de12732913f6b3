#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quadrilo {

// A failure that the user must be told about. The window shows it and goes on
// working; nothing in the program ends the process because of it.
class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    virtual std::string title() const = 0;
    // The text for the user, numbers written with `separator`.
    virtual std::string describe(std::string_view separator) const;
};

// A numbered run-time error, reported the way Italian users of desktop
// calculators know it: "Errore di run-time '11'" over its description.
class RuntimeError : public Failure {
public:
    enum Code : int { Overflow = 6, DivisionByZero = 11 };

    explicit RuntimeError(Code code);

    Code code() const noexcept { return code_; }
    std::string title() const override;
    static std::string describe(Code code);

private:
    Code code_;
};

// Input that the program declines to evaluate, with the reason in Italian.
class InputRefused : public Failure {
public:
    enum Reason { LimitTooLarge };

    explicit InputRefused(Reason reason);

    Reason reason() const noexcept { return reason_; }
    std::string title() const override;
    std::string describe(std::string_view separator) const override;

private:
    Reason reason_;
};

} // namespace quadrilo
