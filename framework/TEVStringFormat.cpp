#include "framework/TEVStringFormat.h"

QString TEVStringFormat::withObjects(const QString& format, const QStringList& objects)
{
    QString out;
    out.reserve(format.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format.at(i) == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar c = format.at(i + 1);
            if (c == QLatin1Char('%')) {
                out.append(QLatin1Char('%'));
                ++i;
                continue;
            }
            if (c == QLatin1Char('@') && next < objects.size()) {
                out.append(objects.at(next++));
                ++i;
                continue;
            }
        }
        out.append(format.at(i));
    }
    return out;
}
