#include "compute/input.h"
#include "platform/convert.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// QApplication adopts the environment's locale for the C library, as the
// program does on an Italian desktop.
class UnderItalianSettings : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("LC_ALL", "it_IT.UTF-8", 1);
        static int argc = 1;
        static char name[] = "locale_test";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    static void TearDownTestSuite()
    {
        app.reset();
        std::setlocale(LC_ALL, "C");
    }
    static std::unique_ptr<QApplication> app;
};

std::unique_ptr<QApplication> UnderItalianSettings::app;

TEST_F(UnderItalianSettings, TheCLibraryReallyUsesTheComma)
{
    ASSERT_STREQ(std::localeconv()->decimal_point, ",")
        << "it_IT.UTF-8 is not generated here; ./scripts/test generates it";
    EXPECT_EQ(std::strtod("1.5", nullptr), 1.0);
}

TEST_F(UnderItalianSettings, ConversionStillReadsTheFullStop)
{
    EXPECT_EQ(quadrilo::textToNumber("1.5707963"), 1.5707963);
    EXPECT_EQ(quadrilo::textToNumber("2,5"), 2.0);
    EXPECT_EQ(quadrilo::textToNumber("-1.5e3"), -1500.0);
}

TEST_F(UnderItalianSettings, ResultTextUsesOnlyTheGivenSeparator)
{
    EXPECT_EQ(quadrilo::resultText(1.6857510587, "."), "1.68575");
    EXPECT_EQ(quadrilo::resultText(1.6857510587, ","), "1,68575");
    EXPECT_EQ(quadrilo::resultText(1234567.0, "."), "1234567.");
}

} // namespace
