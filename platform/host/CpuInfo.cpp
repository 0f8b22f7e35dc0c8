#include "platform/host/CpuInfo.h"

#include "platform/host/HostText.h"

#include <QRegularExpression>
#include <QSet>

namespace platform {

std::optional<CpuInfo> CpuInfo::read(const HostRoot& root)
{
    const auto text = root.readTextFile(QStringLiteral("/proc/cpuinfo"));
    if (!text)
        return std::nullopt;
    return parse(*text);
}

std::optional<CpuInfo> CpuInfo::parse(const QString& text)
{
    CpuInfo info;
    QSet<QString> packages;
    QSet<QString> cores;
    QString package;
    bool anyPackage = false;
    bool anyCore = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString key = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        if (key == QLatin1String("processor")) {
            ++info.processorCount;
            package.clear();
            continue;
        }
        if (key == QLatin1String("physical id")) {
            package = value;
            packages.insert(value);
            anyPackage = true;
        } else if (key == QLatin1String("core id")) {
            cores.insert(package + QLatin1Char('/') + value);
            anyCore = true;
        }
        if (info.processorCount != 1)
            continue; // identification from the first block only
        const auto number = [&value]() -> std::optional<quint32> {
            const auto n = hosttext::parseUnsigned(value);
            if (!n || *n > 0xFFFFFFFFu)
                return std::nullopt;
            return quint32(*n);
        };
        if (key == QLatin1String("vendor_id"))
            info.vendor = value;
        else if (key == QLatin1String("model name"))
            info.brand = value;
        else if (key == QLatin1String("cpu family"))
            info.family = number();
        else if (key == QLatin1String("model"))
            info.model = number();
        else if (key == QLatin1String("stepping"))
            info.stepping = number();
        else if (key == QLatin1String("flags"))
            info.flags = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        else if (key == QLatin1String("cpu MHz")) {
            bool ok = false;
            const double mhz = value.toDouble(&ok);
            if (ok && mhz > 0)
                info.megahertz = mhz;
        } else if (key == QLatin1String("address sizes")) {
            static const QRegularExpression sizes(QStringLiteral("^(\\d+) bits physical, (\\d+) bits virtual$"));
            const auto match = sizes.match(value);
            if (match.hasMatch()) {
                info.physicalAddressBits = match.captured(1).toUInt();
                info.virtualAddressBits = match.captured(2).toUInt();
            }
        }
    }
    if (info.processorCount == 0)
        return std::nullopt;
    if (anyPackage)
        info.packageCount = int(packages.size());
    if (anyCore)
        info.coreCount = int(cores.size());
    return info;
}

std::optional<quint32> CpuInfo::signature() const
{
    if (!family || !model || !stepping || *stepping > 0xF || *model > 0xFF || *family > 0xF + 0xFF)
        return std::nullopt;
    // The kernel adds the extended family only to base family 15 and the extended model to families 6 and
    // 15 (Intel) or 15 and up (AMD); either way a model above 15 came from the extended field.
    const quint32 baseFamily = *family >= 0xF ? 0xF : *family;
    const quint32 extendedFamily = *family >= 0xF ? *family - 0xF : 0;
    return *stepping | (*model & 0xF) << 4 | baseFamily << 8 | (*model >> 4) << 16 | extendedFamily << 20;
}

} // namespace platform
