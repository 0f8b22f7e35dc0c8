#include "lcd/TEVLCDCrystalfontz.h"
#include "lcd/TEVLCDHD44780.h"

#include "tests/lcd/LcdTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace lcdtest;

namespace {

struct Hd44780 {
    std::shared_ptr<Recording> recording = std::make_shared<Recording>();
    std::shared_ptr<TEVLCDHD44780> display = TEVLCDHD44780::createForLCDController(recordingIoWarrior(recording));
    std::vector<QByteArray> take() { return std::exchange(recording->writes, {}); }
};

struct Crystalfontz {
    std::shared_ptr<Recording> recording = std::make_shared<Recording>();
    std::shared_ptr<TEVLCDCrystalfontz> display = TEVLCDCrystalfontz::createForLCDController(recordingSerialPort(recording));
    std::vector<QByteArray> take() { return std::exchange(recording->writes, {}); }
    // What was sent while the port settled goes out once the settle time has passed.
    bool settle()
    {
        const auto* port = dynamic_cast<const TEVSerialPortDevice*>(display->controllerDevice().get());
        kelvaro::test::clock()->advance(TEVSerialPortDevice::SettleTime);
        return port && kelvaro::test::waitFor([port] { return !port->isSettling(); });
    }
};

} // namespace

TEST(TEVLCDHD44780, InitialisesEnablesAndDisablesWithTheGoldenReports)
{
    Hd44780 lcd;
    ASSERT_TRUE(lcd.display);
    EXPECT_EQ(lcd.take(), (std::vector<QByteArray>{report({0x04, 0x01}), report({0x05, 0x01, 0x38}),
                                                   report({0x05, 0x01, 0x0C}), report({0x05, 0x01, 0x01})}));
    lcd.display->setDisplayEnabled(false);
    EXPECT_EQ(lcd.take(), (std::vector<QByteArray>{report({0x05, 0x01, 0x01}), report({0x04, 0x00})}));
    lcd.display->setDisplayEnabled(true);
    EXPECT_EQ(lcd.take(), std::vector<QByteArray>{report({0x04, 0x01})});
    lcd.display.reset();
    EXPECT_EQ(lcd.take(), (std::vector<QByteArray>{report({0x05, 0x01, 0x01}), report({0x04, 0x00})}))
        << "released displays switch their module off";
}

TEST(TEVLCDHD44780, SendsFramesLineByLineFromTheirStartAddresses)
{
    Hd44780 lcd;
    lcd.take();
    lcd.display->setString(QStringLiteral("AB\nC"));
    EXPECT_EQ(lcd.take(), (std::vector<QByteArray>{
                              report({0x05, 0x01, 0x02}), report({0x05, 0x01, 0x80}),
                              report({0x05, 0x86, 'A', 'B', ' ', ' ', ' ', ' '}), report({0x05, 0x82, ' ', ' '}),
                              report({0x05, 0x01, 0xC0}), report({0x05, 0x86, 'C', ' ', ' ', ' ', ' ', ' '}),
                              report({0x05, 0x82, ' ', ' '})}));
    EXPECT_EQ(lcd.display->simulatedTextOutput(), QStringLiteral("AB      \nC"));

    const QString text = QStringLiteral("CPU Die 41.5\u2103 Fan 1200 rpm 2\u00D7 Load 97% of 100%");
    const struct {
        qint64 type;
        QString shape;
    } rows[] = {
        {3, "i02 i80 d6 d6 d4 iC0 d6 d6 d4"},
        {7, "i02 i80 d6 d6 d6 d2 iC0 d6 d6 d6 d2 i94 d6 d6 d6 d2 iD4 d6 d6 d6 d2"},
        {6, "i02 i80 d6 d6 d4 iC0 d6 d6 d4 i90 d6 d6 d4 iD0 d6 d6 d4"},
    };
    for (const auto& row : rows) {
        lcd.display->setDisplayType(row.type);
        EXPECT_TRUE(lcd.take().empty()) << "a new type sends nothing until the next text";
        lcd.display->setString(text);
        const auto reports = lcd.take();
        EXPECT_EQ(shape(reports), row.shape) << row.type;
        const int size = lcd.display->numberOfLines() * lcd.display->numberOfColumns();
        QByteArray expected(size, ' ');
        for (int i = 0; i < std::min<int>(size, text.size()); ++i)
            expected[i] = char(lcd.display->lcdCharacterForUnicodeCharacter(text[i].unicode()));
        EXPECT_EQ(dataBytes(reports), expected) << row.type;
    }
    EXPECT_FALSE(lcd.display->setDisplayData(QByteArray(5, 'x'))) << "a buffer of the wrong size";
    EXPECT_TRUE(lcd.take().empty());
}

TEST(TEVLCDHD44780, AFrameStopsAtItsFirstFailedReport)
{
    Hd44780 lcd;
    lcd.take();
    const int opens = lcd.recording->opens;
    lcd.recording->failAll = true; // each report would wait out its time-out again
    lcd.display->setString(QStringLiteral("AB\nC"));
    EXPECT_EQ(lcd.recording->failures, 1);
    EXPECT_EQ(lcd.recording->opens, opens);
    lcd.display->setString(QStringLiteral("AB\nC"));
    EXPECT_EQ(lcd.recording->failures, 2);
    EXPECT_EQ(lcd.recording->opens, opens + 1) << "the next frame opens the chip again";
    lcd.recording->failAll = false;
    lcd.display->setString(QStringLiteral("AB\nC"));
    EXPECT_EQ(shape(lcd.take()), "m1 i38 i0C i01 i02 i80 d6 d2 iC0 d6 d2")
        << "a chip that answers again is set up again, then gets whole frames";
}

TEST(TEVLCDHD44780, LinesWithoutAStartAddressAreNotSent)
{
    Hd44780 lcd;
    lcd.display->setDisplayType(9); // 17 × 52: only four lines have an address
    lcd.take();
    lcd.display->setString(QString(17 * 52, QLatin1Char('x')));
    lcd.display->setString(QStringLiteral("again"));
    const QString frame = "i02 i80" + QString(" d6").repeated(8) + " d4 iC0" + QString(" d6").repeated(8) + " d4 i80"
                          + QString(" d6").repeated(8) + " d4 i80" + QString(" d6").repeated(8) + " d4";
    EXPECT_EQ(shape(lcd.take()), frame + " " + frame);
    EXPECT_EQ(kelvaro::test::log().count("only lines 1 to 4 have an address"), 1) << "one line per display";
    EXPECT_FALSE(lcd.display->setCursorToLine(4, 0));
    EXPECT_FALSE(lcd.display->setCursorToLine(3, 52));
}

TEST(TEVLCDHD44780, InstructionsCarryTheirFlags)
{
    Hd44780 lcd;
    lcd.take();
    lcd.display->setEntryModeShiftContents(true, true);
    lcd.display->setShiftModeForDisplay(true, false);
    lcd.display->setCGRAMAddress(0x7F);
    lcd.display->setDDRAMAddress(0x14);
    lcd.display->setDisplay(true, true, true);
    EXPECT_EQ(shape(lcd.take()), "i07 i18 i7F i94 i0F");
    const quint8 seven[7] = {};
    EXPECT_FALSE(lcd.display->sendRawLCDData(seven, 7, false));
    EXPECT_FALSE(lcd.display->sendRawLCDData(seven, 0, false));
    EXPECT_TRUE(lcd.take().empty());
}

TEST(LCDDisplay, FlowsTextOverTheLines)
{
    const struct {
        QString text;
        QByteArray buffer;
        QString simulation;
    } rows[] = {
        {"ABCDEFGH\nX", "ABCDEFGHX       ", "ABCDEFGH\nX"},      // a full line takes the line feed
        {"\nAB", "        AB      ", "        \nAB"},            // but the first line never does
        {"A\n\nB", "A       B       ", "A       \nB"},            // no blank line after the first
        {"0123456789abcdefXYZ", "01234567" "89abcdef", "01234567\n89abcdef\n"}, // the rest is dropped
        {"", "                ", ""},
    };
    for (const auto& row : rows) {
        Hd44780 lcd;
        lcd.take();
        lcd.display->setString(row.text);
        EXPECT_EQ(dataBytes(lcd.take()), row.buffer) << row.text.toStdString();
        EXPECT_EQ(lcd.display->simulatedTextOutput(), row.simulation) << row.text.toStdString();
    }
    Hd44780 lcd;
    lcd.take();
    lcd.display->setString(QString());
    EXPECT_TRUE(lcd.take().empty()) << "no text does nothing";
}

TEST(TEVLCDCrystalfontz, SendsTheGoldenSerialCommands)
{
    Crystalfontz lcd;
    ASSERT_TRUE(lcd.display);
    EXPECT_EQ(lcd.recording->opens, 1) << "the display opens the port";
    EXPECT_TRUE(lcd.take().empty());
    ASSERT_TRUE(lcd.settle());
    EXPECT_EQ(lcd.take(), std::vector<QByteArray>{bytes({0x04, 0x01, 0x14, 0x17, 0x19, 0x00, 0x1C, 0x14, 0x1C, 0, 0, 0, 0, 0})});
    lcd.display->setString(QStringLiteral("AB\nC"));
    EXPECT_EQ(lcd.take(), std::vector<QByteArray>{"\x01" "AB      C       "});
    lcd.display->setBrightness(150, -3);
    lcd.display->setBrightness(42.9f, std::nanf(""));
    EXPECT_EQ(lcd.take(), (std::vector<QByteArray>{bytes({0x0E, 0x64, 0x0F, 0x00}), bytes({0x0E, 42, 0x0F, 0})}));
    lcd.display->setDisplayEnabled(true);
    EXPECT_TRUE(lcd.take().empty());
    lcd.display->setDisplayEnabled(false);
    EXPECT_EQ(lcd.take(), std::vector<QByteArray>{"\x01" + QByteArray(16, ' ')});
}

TEST(LCDDisplay, RefusesAControllerOfTheOtherFamily)
{
    auto recording = std::make_shared<Recording>();
    EXPECT_FALSE(TEVLCDHD44780::createForLCDController(recordingSerialPort(recording)));
    EXPECT_TRUE(kelvaro::test::log().contains(
        "TEVLCDHD44780: cannot operate LCD display with controller class TEVSerialPortDevice!\n"));
    EXPECT_FALSE(TEVLCDCrystalfontz::createForLCDController(recordingIoWarrior(recording)));
    EXPECT_TRUE(kelvaro::test::log().contains(
        "TEVLCDCrystalfontz: cannot operate LCD display with controller class TEVIOWarriorDevice!\n"));
    EXPECT_FALSE(TEVLCDHD44780::createForLCDController(nullptr));
    EXPECT_TRUE(recording->writes.empty());
}

TEST(LCDDisplay, CharacterMapsMatchTheModulesROMs)
{
    const struct {
        char16_t unit;
        quint8 hd44780;
        quint8 crystalfontz;
    } rows[] = {
        {u'A', 'A', 'A'},      {u'$', '$', 0xA2},     {u'@', '@', 0xA0},      {u'\\', 0xFF, 0xFB},
        {u'~', 0xFF, 0xCE},    {u'}', '}', 0xFF},     {u'\u00B0', 0xDF, 0xD6}, {u'\u2103', 0xDF, 0x80},
        {u'\u2109', 0xDF, 0x80}, {u'\u00E4', 0xE1, 0x7B}, {u'\u00DF', 0xE2, 0xBE}, {u'\u03BC', 0xE4, 0x8F},
        {u'\u03A3', 0xF6, 0xB8}, {u'\u2192', 0x7E, 0xDF}, {u'\u221E', 0xF3, 0x9F}, {u'\u300C', 0xA2, 0x96},
        {u'\u30AB', 0xB6, 0xD6}, {u'\u30C1', 0xC1, 0xD6}, {u'\u30DB', 0xCE, 0xD6}, {u'\u30E8', 0xD6, 0xD6},
        {u'\u30F3', 0xDD, 0xD6}, {u'\u30A4', 0xA8, 0xD6}, {u'\u30F8', 0xA5, 0xD6}, {u'\u3098', 0xDE, 0xD6},
        {u'\u00D6', 0xFF, 0x5C}, {u'\u017E', 0xFF, 0xF9}, {u'\u266C', 0xFF, 0x91}, {u'\u25A0', 0xFF, 0xD6},
        {u'\n', 0xFF, 0xD6},   {u'\u4E00', 0xFF, 0xD6}, {u'\uFFFD', 0xFF, 0xD6},
    };
    Hd44780 hd;
    Crystalfontz cf;
    for (const auto& row : rows) {
        EXPECT_EQ(hd.display->lcdCharacterForUnicodeCharacter(row.unit), row.hd44780) << int(row.unit);
        EXPECT_EQ(cf.display->lcdCharacterForUnicodeCharacter(row.unit), row.crystalfontz) << int(row.unit);
    }
    EXPECT_FALSE(hd.display->isPrintableAsLCDCharacter(0xFF));
    EXPECT_TRUE(cf.display->isPrintableAsLCDCharacter(0xFF));
    EXPECT_FALSE(cf.display->isPrintableAsLCDCharacter(0xD6));
    for (char16_t unit = 0; unit < 0x4000; ++unit)
        ASSERT_GE(TEVLCDCrystalfontz::computedLCDCharacterForUnicodeCharacter(unit), 0x20) << "a command byte for " << int(unit);
}
