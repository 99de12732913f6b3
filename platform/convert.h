#pragma once

#include <string_view>

namespace quadrilo {

// The value of the number at the start of `text`, read with the full stop as
// decimal point whatever the locale. Text with no leading number gives 0.
// Throws RuntimeError(Overflow) when the number lies beyond a double's range.
double textToNumber(std::string_view text);

} // namespace quadrilo
