#include "platform/convert.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Case {
    const char* name;
    std::string text;
    double value;
};

class TextToNumber : public testing::TestWithParam<Case> {};

TEST_P(TextToNumber, ReadsTheLeadingNumber)
{
    EXPECT_EQ(quadrilo::textToNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, TextToNumber,
    testing::Values(
        Case{"Empty", "", 0.0}, Case{"LoneMinus", "-", 0.0}, Case{"LonePoint", ".", 0.0}, Case{"MinusPoint", "-.", 0.0},
        Case{"Integer", "30", 30.0}, Case{"Decimal", "1.5707963", 1.5707963},
        Case{"PlusSign", "+7", 7.0}, Case{"MinusSign", "-1", -1.0},
        Case{"SecondPointEnds", "12.5.7", 12.5}, Case{"LaterMinusEnds", "5-3", 5.0},
        Case{"DoubleMinus", "--5", 0.0}, Case{"PlusMinus", "+-5", 0.0},
        Case{"LeadingPoint", ".5", 0.5}, Case{"SignedLeadingPoint", "-.25", -0.25},
        Case{"TrailingPoint", "5.", 5.0}, Case{"LetterAfterPoint", "3.x", 3.0}, Case{"LeadingZeros", "000012", 12.0},
        Case{"CommaIsNoPoint", "1,5", 1.0}, Case{"LetterEnds", "2x", 2.0},
        Case{"LeadingLetter", "x2", 0.0}, Case{"LeadingBlanks", " \t 4.5", 4.5},
        Case{"InnerBlankEnds", "1 000", 1.0}, Case{"BlankAfterSign", "- 3", 0.0},
        Case{"Exponent", "1e3", 1000.0}, Case{"CapitalExponent", "2.5E-2", 0.025},
        Case{"SignedExponent", "-1.5e+3", -1500.0}, Case{"BareExponent", "2e", 2.0},
        Case{"ExponentSignOnly", "2e-", 2.0}, Case{"ExponentWithoutMantissa", "e5", 0.0},
        Case{"ExponentAfterPoint", "3.e1", 30.0}, Case{"HexIsNotRead", "&H10", 0.0},
        Case{"ZeroXIsZero", "0x1F", 0.0}, Case{"NonAsciiDigitEnds", "7\xd9\xa3", 7.0},
        Case{"Underflow", "1e-400", 0.0}, Case{"NegativeUnderflow", "-1e-400", -0.0},
        Case{"ZeroWithHugeExponent", "0e999999", 0.0},
        Case{"ManyZerosBeforeDigit", "0." + std::string(400, '0') + "1", 0.0},
        Case{"LargestDouble", "1.7976931348623157e308", 1.7976931348623157e308},
        Case{"HundredDigits", "1" + std::string(100, '0'), 1e100},
        // Found by fuzzing: an exponent near the largest long long.
        Case{"ExponentNearLongLongMinimum", "1e-9223372036854775807", 0.0}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

struct OverflowCase {
    const char* name;
    std::string text;
};

class TextToNumberOverflow : public testing::TestWithParam<OverflowCase> {};

TEST_P(TextToNumberOverflow, IsAnOverflowErrorNeverInfinity)
{
    try {
        const double value = quadrilo::textToNumber(GetParam().text);
        FAIL() << "converted to " << value;
    } catch (const quadrilo::RuntimeError& error) {
        EXPECT_EQ(error.code(), quadrilo::RuntimeError::Overflow);
        EXPECT_EQ(error.title(), "Errore di run-time '6'");
        EXPECT_STREQ(error.what(), "Overflow");
    }
}

INSTANTIATE_TEST_SUITE_P(
    OutOfRange, TextToNumberOverflow,
    testing::Values(OverflowCase{"FourHundredDigits", std::string(400, '9')},
                    OverflowCase{"NegativeFourHundredDigits", "-" + std::string(400, '9')},
                    OverflowCase{"JustPastTheLargest", "1.8e308"},
                    OverflowCase{"SmallMantissaLargeExponent", "0.001e312"},
                    OverflowCase{"EndlessExponent", "1e" + std::string(30, '9')},
                    // Found by fuzzing: 127 leading digits and an exponent
                    // near the largest long long overflowed the check itself.
                    OverflowCase{"ExponentNearLongLongMaximum",
                                 std::string(127, '9') + "e9223372036854775807"}),
    [](const testing::TestParamInfo<OverflowCase>& info) { return std::string(info.param.name); });

} // namespace
