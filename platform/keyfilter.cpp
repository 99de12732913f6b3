#include "platform/keyfilter.h"

#include <string_view>

namespace quadrilo {

int filterKey(int keyAscii)
{
    // Judges the character alone, not where it lands: "1.2.3", "--5" and "5-"
    // can all be typed, and the conversion reads what leads.
    constexpr std::string_view accepted = "-+.0123456789\b";
    if (keyAscii < 0 || keyAscii > 255)
        return 0;
    return accepted.find(static_cast<char>(keyAscii)) == std::string_view::npos ? 0 : keyAscii;
}

} // namespace quadrilo
