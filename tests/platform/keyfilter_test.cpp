#include "platform/keyfilter.h"

#include <gtest/gtest.h>


namespace {

// An oracle written differently from the filter: a table of the codes that
// may pass, checked against every code a key press can produce.
bool mayPass(int code)
{
    return code == 8 || code == '-' || code == '+' || code == '.' || (code >= '0' && code <= '9');
}

// Past 0 to 255 too: a negative code, or one that is a digit modulo 256,
// is cancelled.
TEST(KeyFilter, JudgesEveryCodeOnItsOwn)
{
    int passed = 0;
    for (int code = -1; code <= 511; ++code) {
        const int filtered = quadrilo::filterKey(code);
        if (mayPass(code)) {
            EXPECT_EQ(filtered, code) << "code " << code;
            ++passed;
        } else {
            EXPECT_EQ(filtered, 0) << "code " << code;
        }
    }
    EXPECT_EQ(passed, 14);
}

} // namespace
