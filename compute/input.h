#pragma once

#include <string>
#include <string_view>

namespace quadrilo {

struct FirstKindInput {
    double phi = 0.0;     // upper limit, radians
    double degrees = 0.0; // argument, sexagesimal degrees
};

// The two fields of the first kind, converted in order (upper limit first).
FirstKindInput readFirstKindInput(std::string_view upperLimitText, std::string_view argumentText);

// The text that the result label shows for a sum.
std::string resultText(double sum, std::string_view decimalSeparator);

} // namespace quadrilo
