#pragma once
// TEVLCDCrystalfontz: a Crystalfontz serial character module on a serial port. A text is one write: cursor
// home and every position of the display, which the module wraps over its lines. Main thread.

#include "lcd/TEVLCDDisplay.h"

class TEVSerialPortDevice;

class TEVLCDCrystalfontz : public TEVLCDDisplay {
public:
    static constexpr quint8 NotPrintable = 0xD6;

    // Null without a controller or with one that is no serial port (logged). Opens the port (through the
    // controller) and sets the module up: no cursor, no scrolling, wrapping, and a degree ring as custom
    // character 0.
    static std::shared_ptr<TEVLCDCrystalfontz> createForLCDController(std::shared_ptr<TEVLCDController> controller);
    ~TEVLCDCrystalfontz() override;

    // Disabling blanks the module; enabling sends nothing (the next text restores it).
    void setDisplayEnabled(bool enabled) override;
    // Each clamped to 0 to 100 and cut to a whole number.
    void setBrightness(float brightness, float contrast) override;
    void setString(const QString& text) override;
    quint8 lcdCharacterForUnicodeCharacter(char16_t character) const override;
    bool isPrintableAsLCDCharacter(quint8 code) const override { return code != NotPrintable; }
    // Never a code below 0x20: those are the module's commands.
    static quint8 computedLCDCharacterForUnicodeCharacter(char16_t character);

    // Also sends the last brightness and contrast.
    bool initializeDisplay();

protected:
    const char* className() const override { return "TEVLCDCrystalfontz"; }

private:
    TEVLCDCrystalfontz() = default;
    TEVSerialPortDevice* serialPort() const;
    bool send(const QByteArray& bytes);

    quint64 setUpConnection_ = 0; // the port's connection the module was set up on
    QByteArray hardwareSettings_; // the last brightness and contrast command
};
