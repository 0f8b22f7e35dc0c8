#include "sensors/TEVLocalNetworkProbe.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/host/NetworkInterfaceStatistics.h"
#include "sensors/LocalSamplerThread.h"

#include <atomic>

namespace {

std::atomic<double> sampleInterval{1.0};

std::array<quint64, 7> totalsOf(const platform::NetworkInterfaceCounters& c)
{
    return {c.outputPackets, c.inputPackets, c.outputBytes, c.inputBytes, c.outputErrors, c.inputErrors, c.collisions};
}

} // namespace

void TEVLocalNetworkProbe::setNetworkSampleInterval(double seconds)
{
    if (seconds > 0)
        sampleInterval.store(seconds);
}

double TEVLocalNetworkProbe::networkSampleInterval()
{
    return sampleInterval.load();
}

std::shared_ptr<TEVLocalNetworkProbe> TEVLocalNetworkProbe::sharedNetworkProbe()
{
    static std::mutex creation;
    static std::shared_ptr<TEVLocalNetworkProbe> shared;
    std::lock_guard lock(creation);
    if (!shared) {
        shared = create(platform::HostRoot::current());
        const auto loop = shared ? LocalSamplerThread::runLoop() : nullptr;
        if (loop) {
            std::weak_ptr<TEVLocalNetworkProbe> weak = shared;
            shared->timer_ = loop->addTimer(platform::durationFromSeconds(sampleInterval.load()), [weak] {
                if (const auto probe = weak.lock())
                    probe->sample();
            }, true);
        }
    }
    return shared;
}

std::shared_ptr<TEVLocalNetworkProbe> TEVLocalNetworkProbe::create(std::shared_ptr<const platform::HostRoot> root)
{
    if (!root)
        return nullptr;
    std::shared_ptr<TEVLocalNetworkProbe> probe(new TEVLocalNetworkProbe(std::move(root)));
    if (!probe->sample())
        return nullptr;
    return probe;
}

TEVLocalNetworkProbe::~TEVLocalNetworkProbe()
{
    timer_.invalidate();
}

bool TEVLocalNetworkProbe::sample()
{
    const auto interfaces = platform::NetworkInterfaceStatistics::read(*root_);
    std::lock_guard lock(mutex_);
    if (!interfaces) {
        if (!failing_)
            platform::log(QStringLiteral("TEVLocalNetworkProbe: cannot read /proc/net/dev\n"));
        failing_ = true;
        return false;
    }
    failing_ = false;
    // Interfaces that vanished drop out; one that comes back starts afresh.
    auto next = std::make_shared<Table>();
    QStringList names;
    for (const auto& [name, counters] : *interfaces) {
        Record record;
        record.totals = totalsOf(counters);
        const auto previous = table_->constFind(name);
        for (size_t i = 0; i < record.totals.size(); ++i) {
            if (previous != table_->constEnd() && record.totals[i] >= previous->totals[i])
                record.changes[i] = record.totals[i] - previous->totals[i];
        }
        next->insert(name, record);
        names.append(name);
    }
    table_ = std::move(next);
    names_ = std::move(names);
    return true;
}

std::shared_ptr<const TEVLocalNetworkProbe::Table> TEVLocalNetworkProbe::table() const
{
    std::lock_guard lock(mutex_);
    return table_;
}

std::optional<quint64> TEVLocalNetworkProbe::statisticsValueAtIndex(quint64 index, const QString& bsdName,
                                                                    bool accumulative) const
{
    const quint64 position = index + (accumulative ? 0 : 1);
    if (position > 13 || bsdName.isEmpty())
        return std::nullopt;
    const auto current = table();
    const auto it = current->constFind(bsdName);
    if (it == current->constEnd())
        return std::nullopt;
    const size_t statistic = size_t(position / 2);
    if (position % 2 == 0)
        return it->totals[statistic];
    return it->changes[statistic];
}

bool TEVLocalNetworkProbe::hasInterface(const QString& bsdName) const
{
    return table()->contains(bsdName);
}

QStringList TEVLocalNetworkProbe::currentNetworkInterfaceBSDNames() const
{
    std::lock_guard lock(mutex_);
    return names_;
}

QMap<QString, QString> TEVLocalNetworkProbe::currentPresentationNamesByBSDInterfaceNames() const
{
    return platform::NetworkInterfaceStatistics::aliases(*root_);
}
