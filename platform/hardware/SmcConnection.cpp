#include "platform/hardware/SmcConnection.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/hardware/EmulatedSmcConnection.h"
#include "platform/hardware/LinuxSmcConnection.h"

namespace platform {

std::unique_ptr<SmcConnection> SmcConnection::forCurrentComputer(std::shared_ptr<const HostRoot> root)
{
    if (SimulatedComputer::isSelected()) {
        const auto computer = SimulatedComputer::current();
        if (!computer)
            return nullptr;
        auto loaded = EmulatedSmcConnection::fromComputer(*computer);
        if (!loaded.connection && !loaded.error.isEmpty())
            log("SmcConnection", QStringLiteral("simulated SMC not loaded: %1").arg(loaded.error));
        return std::move(loaded.connection);
    }
    return std::make_unique<LinuxSmcConnection>(std::make_shared<HostRootSmcSysfs>(std::move(root)));
}

std::optional<QString> SmcConnection::versionText()
{
    const quint32 rev = fourCharCode(QStringLiteral("REV "));
    const SmcAnswer<SmcKeyInfo> info = keyInfo(rev);
    if (!info.ok() || info.value->type != fourCharCode(QStringLiteral("{rev")) || info.value->size != 6)
        return std::nullopt;
    const SmcAnswer<QByteArray> bytes = readKey(rev);
    if (!bytes.ok() || bytes.value->size() != 6)
        return std::nullopt;
    const QByteArray& b = *bytes.value;
    const unsigned release = (quint8(b[4]) << 8) | quint8(b[5]);
    return QString::asprintf("%d.%d%x%u", int(qint8(b[0])), int(qint8(b[1])), unsigned(int(qint8(b[2]))), release);
}

quint32 SmcConnection::fourCharCode(const QString& text)
{
    if (text.size() != 4)
        return 0;
    quint32 code = 0;
    for (const QChar c : text) {
        if (c.unicode() > 0xff)
            return 0;
        code = (code << 8) | c.unicode();
    }
    return code;
}

QString SmcConnection::fourCharText(quint32 code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((code >> shift) & 0xff);
        if (c == 0)
            break;
        text.append(QChar::fromLatin1(c));
    }
    return text.leftJustified(4, QLatin1Char(' '));
}

} // namespace platform
