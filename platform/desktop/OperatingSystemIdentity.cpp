#include "platform/desktop/OperatingSystemIdentity.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QMap>

namespace platform {
namespace {

const QString kVersionFile = QStringLiteral("/System/Library/CoreServices/SystemVersion.plist");

std::optional<OperatingSystemIdentity> fromVersionFile(const QByteArray& bytes)
{
    const PlistReadResult read = readPropertyList(bytes);
    const auto dictionary = values::toDictionary(read.value);
    if (!dictionary || dictionary->isEmpty()) {
        log("OperatingSystemIdentity", QStringLiteral("%1 is no dictionary of entries").arg(kVersionFile));
        return std::nullopt;
    }
    OperatingSystemIdentity identity;
    identity.source = OperatingSystemIdentity::Source::SystemVersionFile;
    identity.productName = values::toString(dictionary->value(QStringLiteral("ProductName"))).value_or(QString());
    identity.version = values::toString(dictionary->value(QStringLiteral("ProductVersion"))).value_or(QString());
    identity.build = values::toString(dictionary->value(QStringLiteral("ProductBuildVersion"))).value_or(QString());
    return identity;
}

} // namespace

QMap<QString, QString> OperatingSystemIdentity::parseOsRelease(const QString& text)
{
    QMap<QString, QString> entries;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals);
        QString value = line.mid(equals + 1);
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))
            && value.back() == value.front()) {
            const QChar quote = value.front();
            value = value.mid(1, value.size() - 2);
            if (quote == QLatin1Char('"')) {
                // Shell double-quote escapes: \" \\ \$ \`.
                QString unescaped;
                for (qsizetype i = 0; i < value.size(); ++i) {
                    if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size())
                        ++i;
                    unescaped.append(value.at(i));
                }
                value = unescaped;
            }
        }
        entries.insert(key, value);
    }
    return entries;
}

std::optional<OperatingSystemIdentity> OperatingSystemIdentity::read(const HostRoot& root)
{
    if (const auto bytes = root.readFile(kVersionFile, 1024 * 1024))
        return fromVersionFile(*bytes);
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        const auto text = root.readTextFile(QString::fromLatin1(path));
        if (!text)
            continue;
        const QMap<QString, QString> entries = parseOsRelease(*text);
        OperatingSystemIdentity identity;
        identity.source = Source::OsRelease;
        identity.productName = entries.value(QStringLiteral("NAME"), QStringLiteral("Linux"));
        identity.version = entries.value(QStringLiteral("VERSION_ID"));
        identity.build = entries.value(QStringLiteral("BUILD_ID"));
        identity.prettyName = entries.value(QStringLiteral("PRETTY_NAME"), identity.productName);
        return identity;
    }
    return std::nullopt;
}

} // namespace platform
