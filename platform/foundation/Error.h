#pragma once
// Error: a failure that reaches a delegate or a presenter, as a class-specific domain, a small code and
// details ("NSLocalizedDescription" holds the text for the user). A plain value.

#include <QString>
#include <QVariantMap>

namespace platform {

struct Error {
    QString domain;
    qint64 code = 0;
    QVariantMap userInfo;

    QString localizedDescription() const { return userInfo.value(QStringLiteral("NSLocalizedDescription")).toString(); }
    bool operator==(const Error&) const = default;
};

} // namespace platform
