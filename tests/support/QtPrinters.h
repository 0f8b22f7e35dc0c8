#pragma once
// GoogleTest printers for Qt values, so failures show text instead of bytes.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << "QByteArray(" << bytes.toPercentEncoding(" ").toStdString() << ')';
}
