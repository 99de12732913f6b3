#include "platform/errors.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The refusal's one decimal number takes the user's separator; the rest of
// the sentence, the bound's digits included, is the same in every locale.
TEST(Refused, WritesTheStepWithTheSeparator)
{
    const quadrilo::InputRefused refused(quadrilo::InputRefused::LimitTooLarge, 0.000001, 17179869184.0);
    EXPECT_EQ(refused.title(), "Valore non accettato");
    for (const std::string separator : {",", ".", "'"})
        EXPECT_EQ(refused.describe(separator), "Il limite superiore è troppo grande: con il passo 0" + separator +
                                                   "000001 il calcolo non finirebbe mai. "
                                                   "Inserire un valore minore di 17179869184.");
}

struct Numbered {
    const char* name;
    quadrilo::RuntimeError::Code code;
    const char* title;
    const char* text;
};

class RuntimeErrors : public testing::TestWithParam<Numbered> {};

// Numbered and worded as the run-time errors that Italian users know.
TEST_P(RuntimeErrors, AreNumberedAndWorded)
{
    const quadrilo::RuntimeError error(GetParam().code);
    EXPECT_EQ(error.title(), GetParam().title);
    EXPECT_STREQ(error.what(), GetParam().text);
    // As the window reports any failure.
    EXPECT_EQ(static_cast<const quadrilo::Failure&>(error).describe(","), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RuntimeErrors,
    testing::Values(Numbered{"Overflow", quadrilo::RuntimeError::Overflow, "Errore di run-time '6'", "Overflow"},
                    Numbered{"OutOfMemory", quadrilo::RuntimeError::OutOfMemory, "Errore di run-time '7'",
                             "Memoria esaurita"},
                    Numbered{"DivisionByZero", quadrilo::RuntimeError::DivisionByZero, "Errore di run-time '11'",
                             "Divisione per zero"}),
    [](const testing::TestParamInfo<Numbered>& info) { return std::string(info.param.name); });

} // namespace
