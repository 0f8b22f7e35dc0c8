#pragma once
// Texts of the sensor tables, the gauge outline and the import panel: looked up in the main bundle's
// default string table, with the English text as key. Stateless; main thread.

#include <QString>
#include <QStringList>

namespace sensortables {
// The text of `key`, else the key.
QString localized(const QString& key);
// Replaces the integer conversions ("%lld", "%llu") of `format` in turn, then its "%@" placeholders: names
// are filled last, so a name that reads like a conversion stays as it is.
QString fill(QString format, const QList<qint64>& numbers, const QStringList& objects = {});
} // namespace sensortables
