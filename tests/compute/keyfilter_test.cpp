#include "compute/keyfilter.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

// An oracle written differently from the filter: a table of the codes that
// may pass, checked against every code a key press can produce.
bool mayPass(int code)
{
    return code == 8 || code == '-' || code == '+' || code == '.' || (code >= '0' && code <= '9');
}

TEST(KeyFilter, JudgesEveryCodeOnItsOwn)
{
    int passed = 0;
    for (int code = 0; code <= 255; ++code) {
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

struct Named {
    const char* name;
    int code;
};

class Cancelled : public testing::TestWithParam<Named> {};

TEST_P(Cancelled, IsZero)
{
    EXPECT_EQ(quadrilo::filterKey(GetParam().code), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, Cancelled,
    testing::Values(Named{"Nul", 0}, Named{"CtrlC", 3}, Named{"CtrlV", 22}, Named{"CtrlX", 24},
                    Named{"CtrlZ", 26}, Named{"Return", 13}, Named{"Escape", 27},
                    Named{"Space", ' '}, Named{"Comma", ','}, Named{"ExponentLetter", 'e'},
                    Named{"CapitalExponent", 'E'}, Named{"Degree", 176},
                    Named{"Del", 127}, Named{"NegativeCode", -1}, Named{"BeyondAnsi", 256},
                    Named{"ModuloTwoFiftySixOfDigit", 256 + '5'}),
    [](const testing::TestParamInfo<Named>& info) { return std::string(info.param.name); });

} // namespace
