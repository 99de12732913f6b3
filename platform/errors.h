#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace quadrilo {

// A failure that the user must be told about. The window shows it and goes on
// working; nothing in the program ends the process because of it. Made and
// thrown without allocating, so that it stays itself when memory is short.
class Failure : public std::exception {
public:
    // `what` is a text of static storage: the report with "." for the
    // decimal separator.
    explicit Failure(const char* what) noexcept : what_(what) {}
    const char* what() const noexcept override { return what_; }
    virtual std::string title() const = 0;
    // The text for the user, numbers written with `separator`.
    virtual std::string describe(std::string_view separator) const;

private:
    const char* what_;
};

// A numbered run-time error, reported the way Italian users of desktop
// calculators know it: "Errore di run-time '11'" over its description.
class RuntimeError : public Failure {
public:
    enum Code : int { Overflow = 6, OutOfMemory = 7, DivisionByZero = 11 };

    explicit RuntimeError(Code code) noexcept;

    Code code() const noexcept { return code_; }
    std::string title() const override;
    static const char* describe(Code code) noexcept;

private:
    Code code_;
};

// Input that the program declines to evaluate, with the reason in Italian.
// LimitTooLarge: the limit reaches `bound`, past which the counter no longer
// moves by `step`; the report gives both.
class InputRefused : public Failure {
public:
    enum Reason { LimitTooLarge };

    InputRefused(Reason reason, double step, double bound) noexcept;

    Reason reason() const noexcept { return reason_; }
    std::string title() const override;
    std::string describe(std::string_view separator) const override;

private:
    Reason reason_;
    double step_;
    double bound_;
};

} // namespace quadrilo
