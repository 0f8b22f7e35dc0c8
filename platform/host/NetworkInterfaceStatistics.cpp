#include "platform/host/NetworkInterfaceStatistics.h"

#include "platform/host/HostText.h"

#include <charconv>

namespace platform {

std::optional<NetworkInterfaceStatistics::Interfaces> NetworkInterfaceStatistics::read(const HostRoot& root)
{
    const auto text = root.readFile(QStringLiteral("/proc/net/dev"));
    return text ? parse(*text) : std::nullopt;
}

std::optional<NetworkInterfaceStatistics::Interfaces> NetworkInterfaceStatistics::parse(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    // Two header lines ("Inter-|   Receive ..." and " face |bytes ..."), then one line per interface.
    if (lines.size() < 2 || !lines[0].contains('|'))
        return std::nullopt;
    Interfaces result;
    for (qsizetype i = 2; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        // "  eth0: 36086439 1370 ..."; a long counter may follow the colon without a space. Interface
        // names cannot hold a colon.
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        quint64 fields[16] = {};
        int count = 0;
        const char* p = line.constData() + colon + 1;
        const char* const end = line.constData() + line.size();
        while (count < 16) {
            while (p < end && (*p == ' ' || *p == '\t'))
                ++p;
            const auto [next, error] = std::from_chars(p, end, fields[count]);
            if (error != std::errc() || next == p)
                break;
            p = next;
            ++count;
        }
        if (name.isEmpty() || count != 16)
            continue;
        // Receive: bytes packets errs drop fifo frame compressed multicast; transmit: bytes packets errs
        // drop fifo colls carrier compressed.
        NetworkInterfaceCounters counters;
        counters.inputBytes = fields[0];
        counters.inputPackets = fields[1];
        counters.inputErrors = fields[2];
        counters.outputBytes = fields[8];
        counters.outputPackets = fields[9];
        counters.outputErrors = fields[10];
        counters.collisions = fields[13];
        result.emplace_back(QString::fromUtf8(name), counters);
    }
    return result;
}

QString NetworkInterfaceStatistics::alias(const HostRoot& root, const QString& interfaceName)
{
    if (interfaceName.isEmpty() || interfaceName.contains(QLatin1Char('/')))
        return {};
    const auto text = hosttext::firstLine(root, QStringLiteral("/sys/class/net/%1/ifalias").arg(interfaceName));
    return text && !text->isEmpty() ? *text : QString();
}

QMap<QString, QString> NetworkInterfaceStatistics::aliases(const HostRoot& root)
{
    QMap<QString, QString> result;
    for (const QString& name : root.listDirectory(QStringLiteral("/sys/class/net")).value_or(QStringList())) {
        const QString text = alias(root, name);
        if (!text.isEmpty())
            result.insert(name, text);
    }
    return result;
}

} // namespace platform
