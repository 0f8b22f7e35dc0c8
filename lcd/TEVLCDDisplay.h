#pragma once
// TEVLCDDisplay: one character-LCD module on its controller (abstract). It knows the module's geometry,
// flows a text over its lines in the module's character codes and keeps a plain-text copy of what the
// module shows (the preview). A subclass per module family sends the bytes. Owned by the LCD manager; owns
// its controller. Main thread.

#include "lcd/TEVLCDController.h"

#include <QByteArray>
#include <QString>

#include <memory>

class TEVLCDDisplay {
public:
    static constexpr int NumberOfDisplayTypes = 10;

    TEVLCDDisplay(const TEVLCDDisplay&) = delete;
    TEVLCDDisplay& operator=(const TEVLCDDisplay&) = delete;
    virtual ~TEVLCDDisplay();

    virtual void setDisplayEnabled(bool enabled) { displayEnabled_ = enabled; }
    bool isDisplayEnabled() const { return displayEnabled_; }
    // Codes 0 to 9 also take their lines and columns from the geometry table; others only store the code.
    // Nothing is sent to the module until the next text.
    virtual void setDisplayType(qint64 code);
    qint64 displayType() const { return displayType_; }
    quint8 numberOfLines() const { return lines_; }
    quint8 numberOfColumns() const { return columns_; }
    // Backlight and contrast, 0 to 100; families without them ignore it.
    virtual void setBrightness(float brightness, float contrast);
    // A null text does nothing.
    virtual void setString(const QString& text);
    virtual quint8 lcdCharacterForUnicodeCharacter(char16_t character) const;
    virtual bool isPrintableAsLCDCharacter(quint8 code) const;
    QString simulatedTextOutput() const { return simulationString_; }
    const std::shared_ptr<TEVLCDController>& controllerDevice() const { return controllerDevice_; }

protected:
    TEVLCDDisplay() = default;
    virtual const char* className() const { return "TEVLCDDisplay"; }
    // Stores the controller, has it connect, sets type 0 and enables the display. False without a
    // controller.
    bool initForLCDController(std::shared_ptr<TEVLCDController> controller);
    // The text as lines × columns codes, blank-filled; the simulation text follows it. A line feed ends the
    // current line, except right after a line that filled up exactly (but always on the first line).
    QByteArray flowString(const QString& text);

private:
    std::shared_ptr<TEVLCDController> controllerDevice_;
    bool displayEnabled_ = false;
    qint64 displayType_ = 0;
    quint8 lines_ = 2;
    quint8 columns_ = 8;
    QString simulationString_;
};
