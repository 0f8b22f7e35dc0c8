#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"

#include <cstdio>

using namespace platform;

namespace dump {

void printError(const QString& text)
{
    std::fputs(qPrintable(QStringLiteral("kelvaro-dump: ") + escapeControlCharacters(text) + QLatin1Char('\n')), stderr);
}

bool simulatedComputerFailedToLoad()
{
    if (!platform::SimulatedComputer::isSelected() || platform::SimulatedComputer::current())
        return false;
    printError(QStringLiteral("the simulated computer could not be loaded"));
    return true;
}

QVariant printable(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Invalid:
        return QStringLiteral("$null");
    case values::Kind::Object:
        return QVariantMap{{"$class", values::toObject(value)->className()}};
    case values::Kind::Array: {
        QVariantList out;
        for (const QVariant& element : value.toList())
            out.append(printable(element));
        return out;
    }
    case values::Kind::Dictionary: {
        QVariantMap out;
        const QVariantMap in = value.toMap();
        for (auto it = in.cbegin(); it != in.cend(); ++it)
            out.insert(escapeControlCharacters(it.key()), printable(it.value()));
        return out;
    }
    case values::Kind::String:
        return escapeControlCharacters(value.toString());
    default:
        return value;
    }
}

void printPropertyList(const QVariant& value)
{
    const QByteArray xml = writePropertyList(value, PlistFormat::Xml);
    std::fwrite(xml.constData(), 1, size_t(xml.size()), stdout);
}

} // namespace dump
