#pragma once
// TEVLCDHD44780: an HD44780 character module on an IO-Warrior's LCD special-mode interface. Every
// instruction and every run of up to six data bytes is one 8-byte report. Lines start at their DDRAM
// addresses; a line without one (beyond the fourth) is not sent. A chip opened again (re-plugged, or powered
// up again) gets the set-up again before its next text. Main thread.

#include "lcd/TEVLCDDisplay.h"

#include <array>

class TEVIOWarriorDevice;

class TEVLCDHD44780 : public TEVLCDDisplay {
public:
    static constexpr quint8 NotPrintable = 0xFF; // the ROM's solid block
    static constexpr quint8 LcdModeReport = 0x04;
    static constexpr quint8 LcdWriteReport = 0x05;

    // Null without a controller or with one that is no IO-Warrior (logged). Switches the module on,
    // sets it up (8-bit, two lines, 5 × 8 dots, display on, no cursor) and clears it.
    static std::shared_ptr<TEVLCDHD44780> createForLCDController(std::shared_ptr<TEVLCDController> controller);
    ~TEVLCDHD44780() override;

    void setDisplayEnabled(bool enabled) override;
    void setDisplayType(qint64 code) override;
    void setString(const QString& text) override;
    quint8 lcdCharacterForUnicodeCharacter(char16_t character) const override;
    bool isPrintableAsLCDCharacter(quint8 code) const override { return code != NotPrintable; }
    static quint8 computedLCDCharacterForUnicodeCharacter(char16_t character);

    bool executeClearDisplay();
    bool executeReturnHome();
    bool setEntryModeShiftContents(bool shiftContents, bool moveCursor);
    bool setDisplay(bool displayOn, bool cursorOn, bool flash);
    bool setShiftModeForDisplay(bool display, bool cursor);
    bool setFeature8Bit(bool eightBit, bool twoLine, bool largeChars);
    bool setCGRAMAddress(quint8 address);
    bool setDDRAMAddress(quint8 address);
    // NO for a position off the display, or on a line that has no start address.
    bool setCursorToLine(quint8 line, quint8 column);
    // One LCD write report of 1 to 6 bytes, as data or as instructions.
    bool sendRawLCDData(const quint8* bytes, qsizetype count, bool instruction);
    // A buffer of exactly lines × columns codes: return home, then each line from its start address. The
    // set-up goes first when the chip was opened again since the module was last set up.
    bool setDisplayData(const QByteArray& data);

    const std::array<quint8, 4>& lineStartAddresses() const { return lineStartAddresses_; }

protected:
    const char* className() const override { return "TEVLCDHD44780"; }

private:
    TEVLCDHD44780() = default;
    TEVIOWarriorDevice* ioWarrior() const;
    bool sendInstruction(quint8 instruction);
    // 8-bit, two lines, 5 × 8 dots, display on without cursor, cleared; remembers the connection on success.
    bool setUpModule();

    std::array<quint8, 4> lineStartAddresses_{0x00, 0x40, 0x00, 0x00};
    bool reportedMissingAddresses_ = false;
    quint64 setUpConnection_ = 0; // the chip's connection the module was set up on; 0: none
};
