#include "platform/host/CpuTopology.h"

#include "platform/host/HostText.h"

#include <QRegularExpression>
#include <QSet>

namespace platform {

namespace {

const QString cpuFolder = QStringLiteral("/sys/devices/system/cpu");

// "cpu12" → 12.
std::optional<int> cpuNumber(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^cpu(\\d+)$"));
    const auto match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int n = match.captured(1).toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

// The CPUs a list names, bounded so a corrupt file cannot make us allocate without limit.
std::optional<QSet<int>> cpuSet(const QString& text)
{
    const auto count = hosttext::countCpuList(text);
    if (!count)
        return std::nullopt;
    QSet<int> cpus;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return cpus;
    for (const QString& range : trimmed.split(QLatin1Char(','))) {
        const QStringList ends = range.split(QLatin1Char('-'));
        const int first = ends.first().trimmed().toInt();
        const int last = ends.last().trimmed().toInt();
        for (int cpu = first; cpu <= last; ++cpu)
            cpus.insert(cpu);
    }
    return cpus;
}

void readCaches(const HostRoot& root, const QString& cpu, CpuTopology& topology)
{
    const QString folder = cpuFolder + QLatin1Char('/') + cpu + QStringLiteral("/cache");
    const auto indexes = root.listDirectory(folder);
    if (!indexes)
        return;
    for (const QString& index : *indexes) {
        if (!index.startsWith(QLatin1String("index")))
            continue;
        const QString base = folder + QLatin1Char('/') + index + QLatin1Char('/');
        const auto level = hosttext::firstLine(root, base + QStringLiteral("level"));
        const auto type = hosttext::firstLine(root, base + QStringLiteral("type"));
        const auto sizeText = hosttext::firstLine(root, base + QStringLiteral("size"));
        const auto size = sizeText ? hosttext::parseSize(*sizeText) : std::nullopt;
        if (!level || !type || !size)
            continue;
        if (*level == QLatin1String("1") && *type == QLatin1String("Instruction"))
            topology.l1InstructionCache = size;
        else if (*level == QLatin1String("1") && *type == QLatin1String("Data"))
            topology.l1DataCache = size;
        else if (*level == QLatin1String("2") && *type != QLatin1String("Instruction"))
            topology.l2Cache = size;
        else if (*level == QLatin1String("3") && *type != QLatin1String("Instruction"))
            topology.l3Cache = size;
    }
}

// cpufreq files are in kHz.
std::optional<quint64> readFrequency(const HostRoot& root, const QString& cpu)
{
    for (const char* file : {"base_frequency", "cpuinfo_max_freq"}) {
        const auto text = hosttext::firstLine(
            root, cpuFolder + QLatin1Char('/') + cpu + QStringLiteral("/cpufreq/") + QLatin1String(file));
        const auto kilohertz = text ? hosttext::parseUnsigned(*text) : std::nullopt;
        if (kilohertz && *kilohertz > 0 && *kilohertz < (quint64(1) << 40))
            return *kilohertz * 1000;
    }
    return std::nullopt;
}

} // namespace

CpuTopology CpuTopology::read(const HostRoot& root)
{
    CpuTopology topology;
    std::optional<QSet<int>> present;
    if (const auto text = hosttext::firstLine(root, cpuFolder + QStringLiteral("/present"))) {
        present = cpuSet(*text);
        if (present)
            topology.presentCount = int(present->size());
    }
    if (const auto text = hosttext::firstLine(root, cpuFolder + QStringLiteral("/online")))
        topology.onlineCount = hosttext::countCpuList(*text);

    const auto names = root.listDirectory(cpuFolder);
    if (!names)
        return topology;
    QSet<QString> packages;
    QSet<QString> cores;
    int threadsPerCore = 0;
    QString firstCpu;
    for (const QString& name : *names) {
        const auto number = cpuNumber(name);
        if (!number || (present && !present->contains(*number)))
            continue;
        if (firstCpu.isEmpty())
            firstCpu = name;
        const QString base = cpuFolder + QLatin1Char('/') + name + QStringLiteral("/topology/");
        const auto package = hosttext::firstLine(root, base + QStringLiteral("physical_package_id"));
        const auto core = hosttext::firstLine(root, base + QStringLiteral("core_id"));
        if (package) {
            packages.insert(*package);
            if (core)
                cores.insert(*package + QLatin1Char('/') + *core);
        }
        if (const auto siblings = hosttext::firstLine(root, base + QStringLiteral("thread_siblings_list"))) {
            if (const auto count = hosttext::countCpuList(*siblings))
                threadsPerCore = std::max(threadsPerCore, *count);
        }
    }
    if (!packages.isEmpty())
        topology.packageCount = int(packages.size());
    if (!cores.isEmpty())
        topology.coreCount = int(cores.size());
    if (threadsPerCore > 0)
        topology.threadsPerCore = threadsPerCore;
    if (!firstCpu.isEmpty()) {
        readCaches(root, firstCpu, topology);
        topology.frequency = readFrequency(root, firstCpu);
    }
    return topology;
}

} // namespace platform
