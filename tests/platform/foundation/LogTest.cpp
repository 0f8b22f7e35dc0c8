#include "platform/foundation/Log.h"

#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

TEST(Log, ControlCharactersFromFilesAreEscapedAndOtherTextKept)
{
    const struct {
        QString text;
        QString shown;
    } rows[] = {
        {QStringLiteral("class \x1B[31mRed\x1B[0m"), QStringLiteral("class \\x1B[31mRed\\x1B[0m")},
        {QStringLiteral("over\rwritten\b\x07"), QStringLiteral("over\\x0Dwritten\\x08\\x07")},
        {QString(QChar(0)) + QStringLiteral("nul"), QStringLiteral("\\x00nul")},
        {QStringLiteral("del \x7F, C1 ") + QChar(0x9B) + QStringLiteral("2J"), QStringLiteral("del \\x7F, C1 \\x9B2J")},
        {QStringLiteral("two\tcolumns\nand lines\n"), QStringLiteral("two\tcolumns\nand lines\n")},
        {QStringLiteral("41.5 °C, Lüfter, 温度, \U0001F321, a\\x1B"), QStringLiteral("41.5 °C, Lüfter, 温度, \U0001F321, a\\x1B")},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::escapeControlCharacters(row.text), row.shown) << row.shown.toStdString();
        kelvaro::test::log().clear();
        platform::log("Reader", row.text);
        EXPECT_EQ(kelvaro::test::log().lines().join(""), "Reader: " + row.shown + "\n") << row.shown.toStdString();
    }
}
