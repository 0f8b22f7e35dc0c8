#include "lcd/TEVLCDDisplay.h"

#include "platform/foundation/Log.h"

namespace {

struct Geometry {
    quint8 lines;
    quint8 columns;
};

constexpr Geometry geometries[TEVLCDDisplay::NumberOfDisplayTypes] = {
    {2, 8}, {1, 16}, {2, 12}, {2, 16}, {2, 20}, {2, 40}, {4, 16}, {4, 20}, {3, 25}, {17, 52}};

} // namespace

TEVLCDDisplay::~TEVLCDDisplay()
{
    // Subclasses disable their module in their own destructors, where their override still runs.
    TEVLCDDisplay::setDisplayEnabled(false);
}

bool TEVLCDDisplay::initForLCDController(std::shared_ptr<TEVLCDController> controller)
{
    if (!controller)
        return false;
    controllerDevice_ = std::move(controller);
    controllerDevice_->initiateDisplayConnection();
    setDisplayType(0);
    setDisplayEnabled(true);
    return true;
}

void TEVLCDDisplay::setDisplayType(qint64 code)
{
    displayType_ = code;
    if (code >= 0 && code < NumberOfDisplayTypes) {
        lines_ = geometries[code].lines;
        columns_ = geometries[code].columns;
    }
}

void TEVLCDDisplay::setBrightness(float, float) {}

void TEVLCDDisplay::setString(const QString&)
{
    platform::log(QStringLiteral("WARNING: abstract class %1 received message setString:\n").arg(QLatin1String(className())));
}

quint8 TEVLCDDisplay::lcdCharacterForUnicodeCharacter(char16_t) const
{
    platform::log(QStringLiteral("WARNING: abstract class %1 received message lcdCharacterForUnicodeCharacter:\n")
                      .arg(QLatin1String(className())));
    return 0;
}

bool TEVLCDDisplay::isPrintableAsLCDCharacter(quint8) const
{
    platform::log(QStringLiteral("WARNING: abstract class %1 received message isPrintableAsLCDCharacter:\n")
                      .arg(QLatin1String(className())));
    return false;
}

QByteArray TEVLCDDisplay::flowString(const QString& text)
{
    QByteArray buffer(qsizetype(lines_) * columns_, ' ');
    simulationString_.clear();
    int column = 0;
    int line = 0;
    qsizetype position = 0;
    for (const QChar unit : text) {
        if (line >= lines_)
            break;
        if (unit.unicode() != u'\n') {
            buffer[position++] = char(lcdCharacterForUnicodeCharacter(unit.unicode()));
            simulationString_.append(unit);
            ++column;
        } else if ((line == 0 || column > 0) && column < columns_) {
            while (column < columns_) {
                ++position;
                simulationString_.append(QLatin1Char(' '));
                ++column;
            }
        }
        if (column >= columns_) {
            simulationString_.append(QLatin1Char('\n'));
            column = 0;
            ++line;
        }
    }
    return buffer;
}
