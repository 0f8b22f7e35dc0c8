#include "lcd/TEVLCDCrystalfontz.h"

#include "lcd/TEVSerialPortDevice.h"
#include "platform/foundation/Log.h"

#include <array>
#include <cmath>

namespace {

constexpr char16_t kTableSize = 0x4000;

struct Mapping {
    char16_t unit;
    quint8 code;
};

// The module's character ROM, by code.
constexpr Mapping romGlyphs[] = {
    // ASCII punctuation moved elsewhere in the ROM: $ @ [ \ ] _ { } ~
    {0x24, 0xA2}, {0x40, 0xA0}, {0x5B, 0xFA}, {0x5C, 0xFB}, {0x5D, 0xFC}, {0x5F, 0xC4}, {0x7B, 0xFD},
    {0x7D, 0xFF}, {0x7E, 0xCE},
    // ¡ ¢ £ ¤ ¥ ¦ § ± ¼ ½ ¿
    {0xA1, 0x40}, {0xA2, 0xB1}, {0xA3, 0xA1}, {0xA4, 0x24}, {0xA5, 0xA3}, {0xA6, 0xFE}, {0xA7, 0x5F},
    {0xB1, 0x8C}, {0xBC, 0x8B}, {0xBD, 0x8A}, {0xBF, 0x60},
    // Á Ä Å Æ Ç È É Ê Í Ñ Ó Ô Ö Ø Ú Ü Ý
    {0xC1, 0xE2}, {0xC4, 0x5B}, {0xC5, 0xAE}, {0xC6, 0xBC}, {0xC7, 0xA9}, {0xC8, 0xC5}, {0xC9, 0xBF},
    {0xCA, 0xC6}, {0xCD, 0xE3}, {0xD1, 0x5D}, {0xD3, 0xE4}, {0xD4, 0xEC}, {0xD6, 0x5C}, {0xD8, 0xAB},
    {0xDA, 0xE5}, {0xDC, 0x5E}, {0xDD, 0xE6},
    // ß β à á ä å æ ç è é ê ì í ñ ò ó ô ö ø ù ú ü ý
    {0xDF, 0xBE}, {0x3B2, 0xBE}, {0xE0, 0x7F}, {0xE1, 0xE7}, {0xE4, 0x7B}, {0xE5, 0xAF}, {0xE6, 0xBD},
    {0xE7, 0xC8}, {0xE8, 0xA4}, {0xE9, 0xA5}, {0xEA, 0xC7}, {0xEC, 0xA7}, {0xED, 0xE8}, {0xF1, 0x7D},
    {0xF2, 0xA8}, {0xF3, 0xE9}, {0xF4, 0xED}, {0xF6, 0x7C}, {0xF8, 0xAC}, {0xF9, 0xA6}, {0xFA, 0xEA},
    {0xFC, 0x7E}, {0xFD, 0xEB},
    // Č č Ě ě İ ı Ř ř Ş ş Š š Ů ů Ž ž ƒ ǧ
    {0x10C, 0xF0}, {0x10D, 0xF5}, {0x11A, 0xF1}, {0x11B, 0xF6}, {0x130, 0xCC}, {0x131, 0xCD}, {0x158, 0xF2},
    {0x159, 0xF7}, {0x15E, 0xCA}, {0x15F, 0xCB}, {0x160, 0xF3}, {0x161, 0xF8}, {0x16E, 0xEE}, {0x16F, 0xEF},
    {0x17D, 0xF4}, {0x17E, 0xF9}, {0x192, 0xD5}, {0x1E7, 0xC9},
    // Combining small e and r.
    {0x363, 0xAA}, {0x36C, 0xAD},
    // Γ Θ Λ Ξ Π Σ Υ Φ Ω
    {0x393, 0xC0}, {0x398, 0xB9}, {0x39B, 0xC1}, {0x39E, 0xBA}, {0x3A0, 0xC2}, {0x3A3, 0xB8}, {0x3A5, 0xC3},
    {0x3A6, 0xB2}, {0x3A9, 0xB5},
    // α δ ε λ μ π τ ψ
    {0x3B1, 0x9C}, {0x3B4, 0x9E}, {0x3B5, 0x9D}, {0x3BB, 0xB4}, {0x3BC, 0x8F}, {0x3C0, 0xB6}, {0x3C4, 0xB3},
    {0x3C8, 0xB7},
    // “ ” • ‧ ⁸ ⁹ ₧, and ℃ ℉ as the degree ring of custom character 0
    {0x201C, 0x98}, {0x201D, 0x99}, {0x2022, 0xBB}, {0x2027, 0xDD}, {0x2078, 0x88}, {0x2079, 0x89},
    {0x20A7, 0xDB}, {0x2103, 0x80}, {0x2109, 0x80},
    // ← ↑ → ↓ ∞ ≤ ≥ ⊺ ⌂ ⍾
    {0x2190, 0xE1}, {0x2191, 0xDE}, {0x2192, 0xDF}, {0x2193, 0xE0}, {0x221E, 0x9F}, {0x2264, 0x8E},
    {0x2265, 0x8D}, {0x22BA, 0x95}, {0x2302, 0xB0}, {0x237E, 0x92},
    // ▀ ▊ ▌ ▎ ▏ ▘ ◇ ◽ ♥ ♦ ♪ ♬
    {0x2580, 0xD0}, {0x258A, 0xD7}, {0x258C, 0xD8}, {0x258E, 0xD9}, {0x258F, 0xDA}, {0x2598, 0xD1},
    {0x25C7, 0xCF}, {0x25FD, 0xDC}, {0x2665, 0x93}, {0x2666, 0x94}, {0x266A, 0x90}, {0x266C, 0x91},
    // 「 」
    {0x300C, 0x96}, {0x300D, 0x97},
};

const std::array<quint8, kTableSize>& characterTable()
{
    static const std::array<quint8, kTableSize> table = [] {
        std::array<quint8, kTableSize> codes{};
        for (char16_t unit = 0; unit < kTableSize; ++unit)
            codes[unit] = TEVLCDCrystalfontz::computedLCDCharacterForUnicodeCharacter(unit);
        return codes;
    }();
    return table;
}

quint8 percent(float value)
{
    if (std::isnan(value))
        return 0;
    return quint8(std::clamp(value, 0.0f, 100.0f));
}

} // namespace

std::shared_ptr<TEVLCDCrystalfontz> TEVLCDCrystalfontz::createForLCDController(std::shared_ptr<TEVLCDController> controller)
{
    std::shared_ptr<TEVLCDCrystalfontz> display(new TEVLCDCrystalfontz);
    if (!display->initForLCDController(controller))
        return nullptr;
    if (!display->serialPort()) {
        platform::log(QStringLiteral("TEVLCDCrystalfontz: cannot operate LCD display with controller class %1!\n")
                          .arg(QLatin1String(controller->className())));
        return nullptr;
    }
    display->initializeDisplay();
    return display;
}

TEVLCDCrystalfontz::~TEVLCDCrystalfontz()
{
    setDisplayEnabled(false);
}

TEVSerialPortDevice* TEVLCDCrystalfontz::serialPort() const
{
    return dynamic_cast<TEVSerialPortDevice*>(controllerDevice().get());
}

bool TEVLCDCrystalfontz::initializeDisplay()
{
    // Hide cursor; cursor home; scroll off; wrap on; custom character 0 = a small degree ring.
    static const char setup[] = {0x04, 0x01, 0x14, 0x17, 0x19, 0x00, 0x1C, 0x14, 0x1C, 0x00, 0x00, 0x00, 0x00, 0x00};
    TEVSerialPortDevice* port = serialPort();
    if (!port || !port->sendData(QByteArray(setup, sizeof setup)))
        return false;
    setUpConnection_ = port->connectionCount();
    if (!hardwareSettings_.isEmpty())
        port->sendData(hardwareSettings_);
    return true;
}

bool TEVLCDCrystalfontz::send(const QByteArray& bytes)
{
    // A port opened again may have a module that was switched off meanwhile: it is set up again first.
    TEVSerialPortDevice* port = serialPort();
    if (!port || !port->openPortIfDue())
        return false;
    if (setUpConnection_ != port->connectionCount() && !initializeDisplay())
        return false;
    return port->sendData(bytes);
}

void TEVLCDCrystalfontz::setDisplayEnabled(bool enabled)
{
    TEVLCDDisplay::setDisplayEnabled(enabled);
    if (!enabled && serialPort())
        setString(QStringLiteral(""));
}

void TEVLCDCrystalfontz::setBrightness(float brightness, float contrast)
{
    if (!serialPort())
        return;
    const char command[] = {0x0E, char(percent(brightness)), 0x0F, char(percent(contrast))};
    hardwareSettings_ = QByteArray(command, sizeof command);
    send(hardwareSettings_);
}

void TEVLCDCrystalfontz::setString(const QString& text)
{
    if (text.isNull())
        return;
    QByteArray frame = flowString(text);
    frame.prepend(char(0x01)); // cursor home
    send(frame);
}

quint8 TEVLCDCrystalfontz::lcdCharacterForUnicodeCharacter(char16_t character) const
{
    return character < kTableSize ? characterTable()[character] : NotPrintable;
}

quint8 TEVLCDCrystalfontz::computedLCDCharacterForUnicodeCharacter(char16_t character)
{
    if ((character >= u'A' && character <= u'Z') || (character >= u'a' && character <= u'z')
        || (character >= 0x20 && character <= 0x23) || (character >= 0x25 && character <= 0x3F))
        return quint8(character);
    for (const Mapping& mapping : romGlyphs) {
        if (mapping.unit == character)
            return mapping.code;
    }
    return NotPrintable;
}
