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
        // Marks that reorder or break the line: "gpj.exe" behind U+202E reads "exe.jpg".
        {QStringLiteral("photo") + QChar(0x202E) + QStringLiteral("gpj.exe"), QStringLiteral("photo\\u202Egpj.exe")},
        {QChar(0x2067) + QStringLiteral("isolated") + QChar(0x2069) + QChar(0x200F) + QChar(0x2028) + QChar(0x061C),
         QStringLiteral("\\u2067isolated\\u2069\\u200F\\u2028\\u061C")},
        {QStringLiteral("Hebrew ") + QChar(0x05E9) + QStringLiteral(", zero width ") + QChar(0x200B),
         QStringLiteral("Hebrew ") + QChar(0x05E9) + QStringLiteral(", zero width ") + QChar(0x200B)},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::escapeControlCharacters(row.text), row.shown) << row.shown.toStdString();
        kelvaro::test::log().clear();
        platform::log("Reader", row.text);
        EXPECT_EQ(kelvaro::test::log().lines().join(""), "Reader: " + row.shown + "\n") << row.shown.toStdString();
    }
}
