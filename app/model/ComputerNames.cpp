#include "app/model/ComputerNames.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "platform/foundation/Bundle.h"

#include <QHash>

namespace computernames {

namespace {

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

QHash<QString, int> counts(const QStringList& texts)
{
    QHash<QString, int> count;
    for (const QString& text : texts)
        ++count[text];
    return count;
}

} // namespace

QString placeOf(const MonitorConnectionInfo* info)
{
    if (!info)
        return {};
    if (info->isLocal())
        return localized(QStringLiteral("this computer"));
    if (info->netService())
        return info->netService()->name();
    const QString& host = info->hostSpecifier();
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':')
           + QString::number(info->portNumber());
}

QStringList distinctNames(const QList<Computer>& computers)
{
    QStringList names;
    for (const Computer& computer : computers)
        names.append(computer.name);
    const auto byName = counts(names);
    QStringList placed;
    for (const Computer& computer : computers)
        placed.append(byName.value(computer.name) < 2 || computer.place.isEmpty()
                          ? computer.name
                          : QStringLiteral("%1 (%2)").arg(computer.name, computer.place));
    const auto byPlace = counts(placed);
    for (qsizetype i = 0; i < computers.size(); ++i) {
        if (byPlace.value(placed[i]) < 2)
            continue;
        const Computer& computer = computers[i];
        const QString serial = QStringLiteral("S/N ") + computer.serial;
        placed[i] = QStringLiteral("%1 (%2)").arg(computer.name,
                                                  computer.place.isEmpty() ? serial : computer.place + QStringLiteral(", ") + serial);
    }
    return placed;
}

} // namespace computernames
