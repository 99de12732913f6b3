#include "compute/input.h"

#include "platform/convert.h"
#include "platform/numfmt.h"

namespace quadrilo {

FirstKindInput readFirstKindInput(std::string_view upperLimitText, std::string_view argumentText)
{
    FirstKindInput input;
    input.phi = textToNumber(upperLimitText);
    input.degrees = textToNumber(argumentText);
    return input;
}

std::string resultText(double sum, std::string_view decimalSeparator)
{
    return formatFiveDecimals(sum, decimalSeparator);
}

} // namespace quadrilo
