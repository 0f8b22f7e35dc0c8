#include "windows/sensortables/SensorTablesText.h"

#include "framework/TEVStringFormat.h"
#include "platform/foundation/Bundle.h"

#include <QRegularExpression>

namespace sensortables {

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

QString fill(QString format, const QList<qint64>& numbers, const QStringList& objects)
{
    static const QRegularExpression conversion(QStringLiteral("%ll[du]"));
    qsizetype from = 0;
    for (const qint64 number : numbers) {
        const auto match = conversion.match(format, from);
        if (!match.hasMatch())
            break;
        const QString text = QString::number(number);
        format.replace(match.capturedStart(), match.capturedLength(), text);
        from = match.capturedStart() + text.size();
    }
    return TEVStringFormat::withObjects(format, objects);
}

} // namespace sensortables
