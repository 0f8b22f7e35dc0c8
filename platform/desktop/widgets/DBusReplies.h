#pragma once
// Answers of the program's own D-Bus objects (the tray's icons and its menu) to the calls they take: none to a
// caller that asked for none. Main thread.

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>

namespace platform::dbus {

inline const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

inline void reply(const QDBusConnection& connection, const QDBusMessage& message, const QVariantList& arguments = {})
{
    if (!message.isReplyRequired())
        return;
    connection.send(message.createReply(arguments));
}

inline void replyError(const QDBusConnection& connection, const QDBusMessage& message, const QString& name,
                       const QString& text)
{
    if (message.isReplyRequired())
        connection.send(message.createErrorReply(name, text));
}

} // namespace platform::dbus
