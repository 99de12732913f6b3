// The key filter is total: any code gives 0 or the code itself, and the code
// itself exactly for "-+.0123456789" and backspace.
#include "compute/keyfilter.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 0; i + 4 <= size; i += 4) {
        std::int32_t code = 0;
        std::memcpy(&code, data + i, sizeof code);
        const int filtered = quadrilo::filterKey(code);
        const bool accepted = code == 8 || code == '+' || code == '-' || code == '.' ||
                              (code >= '0' && code <= '9');
        if (filtered != (accepted ? code : 0))
            std::abort();
    }
    return 0;
}
