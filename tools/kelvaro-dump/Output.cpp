#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"

#include <cstdio>
#include <optional>

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

namespace {

// What `value` prints as, or nothing when it prints as it is: the parts that need no change are not copied,
// so a large description costs its printing, not a second copy of itself.
std::optional<QVariant> printableChange(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Invalid:
        return QVariant(QStringLiteral("$null"));
    case values::Kind::Object:
        return QVariant(QVariantMap{{"$class", values::toObject(value)->className()}});
    case values::Kind::String: {
        const QString text = value.toString();
        QString escaped = escapeControlCharacters(text);
        if (escaped.constData() == text.constData())
            return std::nullopt;
        return QVariant(std::move(escaped));
    }
    case values::Kind::Array: {
        const QVariantList in = value.toList();
        std::optional<QVariantList> out;
        for (qsizetype i = 0; i < in.size(); ++i) {
            if (auto changed = printableChange(in.at(i))) {
                if (!out)
                    out = in;
                (*out)[i] = std::move(*changed);
            }
        }
        return out ? std::optional<QVariant>(*out) : std::nullopt;
    }
    case values::Kind::Dictionary: {
        const QVariantMap in = value.toMap();
        std::optional<QVariantMap> out;
        for (auto it = in.cbegin(); it != in.cend(); ++it) {
            const QString key = escapeControlCharacters(it.key());
            const bool keyChanged = key.constData() != it.key().constData();
            auto changed = printableChange(it.value());
            if (!keyChanged && !changed)
                continue;
            if (!out)
                out = in;
            if (keyChanged)
                out->remove(it.key());
            out->insert(key, changed ? std::move(*changed) : it.value());
        }
        return out ? std::optional<QVariant>(*out) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

QVariant printable(const QVariant& value)
{
    auto changed = printableChange(value);
    return changed ? std::move(*changed) : value;
}

void printPropertyList(const QVariant& value)
{
    const QByteArray xml = writePropertyList(value, PlistFormat::Xml);
    std::fwrite(xml.constData(), 1, size_t(xml.size()), stdout);
}

} // namespace dump
