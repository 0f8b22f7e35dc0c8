#include "lcd/TEVLCDHD44780.h"

#include "lcd/TEVIOWarriorDevice.h"
#include "platform/foundation/Log.h"

#include <algorithm>

namespace {

constexpr char16_t kTableSize = 0x4000;

struct Mapping {
    char16_t unit;
    quint8 code;
};

// Characters with a glyph in the A00 (Japanese) character ROM, by their code there.
constexpr Mapping romGlyphs[] = {
    {u'¢', 0xEC}, {u'£', 0xED}, {u'₤', 0xED}, {u'°', 0xDF}, {u'℃', 0xDF}, {u'℉', 0xDF}, {u'゜', 0xDF},
    {u'ß', 0xE2}, {u'ä', 0xE1}, {u'ñ', 0xEE}, {u'ö', 0xEF}, {u'÷', 0xFD}, {u'ü', 0xF5},
    {u'Σ', 0xF6}, {u'Ω', 0xF4}, {u'α', 0xE0}, {u'ε', 0xE3}, {u'θ', 0xF2}, {u'μ', 0xE4}, {u'π', 0xF7},
    {u'ρ', 0xE6}, {u'σ', 0xE5},
    {u'—', 0xB0}, {u'ー', 0xB0}, {u'←', 0x7F}, {u'→', 0x7E}, {u'√', 0xE8}, {u'∞', 0xF3},
    {u'、', 0xA4}, {u'。', 0xA1}, {u'「', 0xA2}, {u'」', 0xA3},
    {u'ァ', 0xA7}, {u'ア', 0xB1},
    {u'テ', 0xC3}, {u'ト', 0xC4},
    {u'ハ', 0xCA}, {u'ヒ', 0xCB}, {u'フ', 0xCC}, {u'ヘ', 0xCD}, {u'ホ', 0xCE},
    {u'ャ', 0xAC}, {u'ュ', 0xAD}, {u'ョ', 0xAE}, {u'ヤ', 0xD4}, {u'ユ', 0xD5}, {u'ヨ', 0xD6},
    {u'ワ', 0xDC}, {u'ヲ', 0xA6}, {u'ン', 0xDD},
    // Seven entries off the glyph rule, kept as they are: the ROM has small kana, the middle dot and the voiced
    // mark at these codes.
    {0x30A4, 0xA8}, {0x30A6, 0xA9}, {0x30A8, 0xAA}, {0x30AA, 0xAB}, {0x30C4, 0xAF}, {0x30F8, 0xA5}, {0x3098, 0xDE},
    // The characters those glyphs are.
    {0x30A3, 0xA8}, {0x30A5, 0xA9}, {0x30A7, 0xAA}, {0x30A9, 0xAB}, {0x30C3, 0xAF}, {0x30FB, 0xA5}, {0x309B, 0xDE},
};

// Runs of consecutive code units (or of every second one) onto consecutive codes.
struct Run {
    char16_t first;
    int count;
    int step;
    quint8 firstCode;
};

constexpr Run romRuns[] = {
    {u'カ', 12, 2, 0xB6}, // カ キ ク ケ コ サ シ ス セ ソ タ チ
    {u'ナ', 5, 1, 0xC5},  // ナ ニ ヌ ネ ノ
    {u'マ', 5, 1, 0xCF},  // マ ミ ム メ モ
    {u'ラ', 5, 1, 0xD7},  // ラ リ ル レ ロ
};

const std::array<quint8, kTableSize>& characterTable()
{
    static const std::array<quint8, kTableSize> table = [] {
        std::array<quint8, kTableSize> codes{};
        for (char16_t unit = 0; unit < kTableSize; ++unit)
            codes[unit] = TEVLCDHD44780::computedLCDCharacterForUnicodeCharacter(unit);
        return codes;
    }();
    return table;
}

} // namespace

std::shared_ptr<TEVLCDHD44780> TEVLCDHD44780::createForLCDController(std::shared_ptr<TEVLCDController> controller)
{
    std::shared_ptr<TEVLCDHD44780> display(new TEVLCDHD44780);
    if (!display->initForLCDController(controller))
        return nullptr;
    if (!display->ioWarrior()) {
        platform::log(QStringLiteral("TEVLCDHD44780: cannot operate LCD display with controller class %1!\n")
                          .arg(QLatin1String(controller->className())));
        return nullptr;
    }
    // LCD mode went on with the enabling; a report that failed there closed the interface.
    TEVIOWarriorDevice* device = display->ioWarrior();
    const quint64 connection = device->connectionCount();
    if (device->hasOpenInterface() && display->setUpModule() && device->connectionCount() != connection)
        display->setUpConnection_ = 0;
    return display;
}

TEVLCDHD44780::~TEVLCDHD44780()
{
    setDisplayEnabled(false);
}

TEVIOWarriorDevice* TEVLCDHD44780::ioWarrior() const
{
    return dynamic_cast<TEVIOWarriorDevice*>(controllerDevice().get());
}

void TEVLCDHD44780::setDisplayEnabled(bool enabled)
{
    TEVLCDDisplay::setDisplayEnabled(enabled);
    TEVIOWarriorDevice* device = ioWarrior();
    if (!device)
        return;
    if (!enabled)
        executeClearDisplay();
    const quint8 mode[7] = {quint8(enabled ? 0x01 : 0x00)};
    device->sendOutputReportWithID(LcdModeReport, mode);
}

void TEVLCDHD44780::setDisplayType(qint64 code)
{
    TEVLCDDisplay::setDisplayType(code);
    if (code == 6)
        lineStartAddresses_[2] = 0x10, lineStartAddresses_[3] = 0x50;
    else if (code == 7)
        lineStartAddresses_[2] = 0x14, lineStartAddresses_[3] = 0x54;
}

void TEVLCDHD44780::setString(const QString& text)
{
    if (text.isNull())
        return;
    setDisplayData(flowString(text));
}

quint8 TEVLCDHD44780::lcdCharacterForUnicodeCharacter(char16_t character) const
{
    return character < kTableSize ? characterTable()[character] : NotPrintable;
}

quint8 TEVLCDHD44780::computedLCDCharacterForUnicodeCharacter(char16_t character)
{
    // The ROM has the yen sign at the backslash and an arrow at the tilde.
    if ((character >= 0x20 && character <= 0x5B) || (character >= 0x5D && character <= 0x7D))
        return quint8(character);
    for (const Mapping& mapping : romGlyphs) {
        if (mapping.unit == character)
            return mapping.code;
    }
    for (const Run& run : romRuns) {
        const int offset = int(character) - int(run.first);
        if (offset >= 0 && offset % run.step == 0 && offset / run.step < run.count)
            return quint8(run.firstCode + offset / run.step);
    }
    return NotPrintable;
}

bool TEVLCDHD44780::sendInstruction(quint8 instruction)
{
    return sendRawLCDData(&instruction, 1, true);
}

bool TEVLCDHD44780::setUpModule()
{
    TEVIOWarriorDevice* device = ioWarrior();
    setUpConnection_ = 0;
    if (!device)
        return false;
    if (!setFeature8Bit(true, true, false) || !setDisplay(true, false, false) || !executeClearDisplay())
        return false;
    setUpConnection_ = device->connectionCount();
    return true;
}

bool TEVLCDHD44780::executeClearDisplay()
{
    return sendInstruction(0x01);
}

bool TEVLCDHD44780::executeReturnHome()
{
    return sendInstruction(0x02);
}

bool TEVLCDHD44780::setEntryModeShiftContents(bool shiftContents, bool moveCursor)
{
    return sendInstruction(quint8(0x04 | (moveCursor ? 0x02 : 0) | (shiftContents ? 0x01 : 0)));
}

bool TEVLCDHD44780::setDisplay(bool displayOn, bool cursorOn, bool flash)
{
    return sendInstruction(quint8(0x08 | (displayOn ? 0x04 : 0) | (cursorOn ? 0x02 : 0) | (flash ? 0x01 : 0)));
}

bool TEVLCDHD44780::setShiftModeForDisplay(bool display, bool cursor)
{
    return sendInstruction(quint8(0x10 | (display ? 0x08 : 0) | (cursor ? 0x04 : 0)));
}

bool TEVLCDHD44780::setFeature8Bit(bool eightBit, bool twoLine, bool largeChars)
{
    return sendInstruction(quint8(0x20 | (eightBit ? 0x10 : 0) | (twoLine ? 0x08 : 0) | (largeChars ? 0x04 : 0)));
}

bool TEVLCDHD44780::setCGRAMAddress(quint8 address)
{
    return sendInstruction(quint8(0x40 + (address & 0x3F)));
}

bool TEVLCDHD44780::setDDRAMAddress(quint8 address)
{
    return sendInstruction(quint8(0x80 | address));
}

bool TEVLCDHD44780::setCursorToLine(quint8 line, quint8 column)
{
    if (line >= numberOfLines() || column >= numberOfColumns() || line >= lineStartAddresses_.size())
        return false;
    return setDDRAMAddress(quint8((lineStartAddresses_[line] + column) % 256));
}

bool TEVLCDHD44780::sendRawLCDData(const quint8* bytes, qsizetype count, bool instruction)
{
    TEVIOWarriorDevice* device = ioWarrior();
    if (!bytes || count < 1 || count > 6 || !device)
        return false;
    quint8 report[7] = {quint8((instruction ? 0x00 : 0x80) | count)};
    std::copy(bytes, bytes + count, report + 1);
    return device->sendOutputReportWithID(LcdWriteReport, report);
}

bool TEVLCDHD44780::setDisplayData(const QByteArray& data)
{
    const int lines = numberOfLines();
    const int columns = numberOfColumns();
    if (data.size() != qsizetype(lines) * columns)
        return false;
    TEVIOWarriorDevice* device = ioWarrior();
    if (!device || !device->openInterface())
        return false;
    if (setUpConnection_ != device->connectionCount()) {
        // A module that lost power with its chip starts in its reset state, blank and out of LCD mode.
        const quint8 mode[7] = {quint8(isDisplayEnabled() ? 0x01 : 0x00)};
        if (!device->sendOutputReportWithID(LcdModeReport, mode) || !setUpModule())
            return false;
    }
    // A failed report means the chip is gone or stalled, each further one would wait out its time-out
    // again: the frame stops at the first, and the next frame tries afresh.
    if (!executeReturnHome())
        return false;
    const auto* bytes = reinterpret_cast<const quint8*>(data.constData());
    for (int line = 0; line < lines; ++line) {
        if (line >= int(lineStartAddresses_.size())) {
            // Only four lines have a DDRAM address; writing the rest would overwrite the first ones.
            if (!reportedMissingAddresses_)
                platform::log(QStringLiteral("TEVLCDHD44780: display type %1 has %2 lines, but only lines 1 to 4 "
                                             "have an address; the others are not shown\n")
                                  .arg(displayType())
                                  .arg(lines));
            reportedMissingAddresses_ = true;
            break;
        }
        if (!setCursorToLine(quint8(line), 0))
            return false;
        for (int column = 0; column < columns; column += 6)
            if (!sendRawLCDData(bytes + line * columns + column, std::min(6, columns - column), false))
                return false;
    }
    return true;
}
