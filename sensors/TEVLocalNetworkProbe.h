#pragma once
// TEVLocalNetworkProbe: the 64-bit counters of every network interface (/proc/net/dev) and their changes
// during the last sampling period, and the interfaces' user-visible names. The shared instance samples on
// the sampler thread's timer; probes read it from any thread. Each sample publishes a new immutable
// table, so a reader never sees one half built.

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/RunLoop.h"

#include <QHash>
#include <QMap>
#include <QStringList>

#include <array>
#include <memory>
#include <mutex>
#include <optional>

class TEVLocalNetworkProbe {
public:
    // Seven statistics, each a (total, change) pair: positions 0/1 output packets, 2/3 input packets,
    // 4/5 output bytes, 6/7 input bytes, 8/9 output errors, 10/11 input errors, 12/13 collisions.
    enum Statistic : quint64 {
        OutputPackets = 0, InputPackets = 2, OutputBytes = 4, InputBytes = 6, OutputErrors = 8, InputErrors = 10,
        Collisions = 12
    };
    struct Record {
        std::array<quint64, 7> totals{};
        // Unknown for an interface's first sample and for a counter that went backwards (the driver
        // reset it): either would otherwise report a whole total as one period's traffic.
        std::array<std::optional<quint64>, 7> changes{};
    };

    // Made on the first call whose first sample succeeds, with its timer on the sampler thread; null
    // (the next call tries again) when /proc/net/dev cannot be read.
    static std::shared_ptr<TEVLocalNetworkProbe> sharedNetworkProbe();
    // Seconds; 0 or less is ignored. Default 1.
    static void setNetworkSampleInterval(double seconds);
    static double networkSampleInterval();

    // Null when the first sample fails. No timer.
    static std::shared_ptr<TEVLocalNetworkProbe> create(std::shared_ptr<const platform::HostRoot> root);
    ~TEVLocalNetworkProbe();
    TEVLocalNetworkProbe(const TEVLocalNetworkProbe&) = delete;
    TEVLocalNetworkProbe& operator=(const TEVLocalNetworkProbe&) = delete;

    // One read of /proc/net/dev; on failure logs (once per run of failures) and keeps the last table.
    bool sample();

    // Position index (the total) when `accumulative`, else index + 1 (the change during the last period).
    // Nothing above position 13, for an empty name, an interface not in the last sample, or an unknown
    // change.
    std::optional<quint64> statisticsValueAtIndex(quint64 index, const QString& bsdName, bool accumulative) const;
    std::optional<quint64> numberOfOutputPacketsForBSDInterface(const QString& name, bool accumulative) const { return statisticsValueAtIndex(OutputPackets, name, accumulative); }
    std::optional<quint64> numberOfInputPacketsForBSDInterface(const QString& name, bool accumulative) const { return statisticsValueAtIndex(InputPackets, name, accumulative); }
    std::optional<quint64> numberOfOutputBytesForBSDInterface(const QString& name, bool accumulative) const { return statisticsValueAtIndex(OutputBytes, name, accumulative); }
    std::optional<quint64> numberOfInputBytesForBSDInterface(const QString& name, bool accumulative) const { return statisticsValueAtIndex(InputBytes, name, accumulative); }
    std::optional<quint64> numberOfOutputErrorsForBSDInterface(const QString& name, bool accumulative) const { return statisticsValueAtIndex(OutputErrors, name, accumulative); }
    std::optional<quint64> numberOfInputErrorsForBSDInterface(const QString& name, bool accumulative) const { return statisticsValueAtIndex(InputErrors, name, accumulative); }
    std::optional<quint64> numberOfCollisionsForBSDInterface(const QString& name, bool accumulative) const { return statisticsValueAtIndex(Collisions, name, accumulative); }

    bool hasInterface(const QString& bsdName) const;
    // In the kernel's order.
    QStringList currentNetworkInterfaceBSDNames() const;
    // Interface name → its alias (ip link set <if> alias ...), read fresh on every call.
    QMap<QString, QString> currentPresentationNamesByBSDInterfaceNames() const;

private:
    using Table = QHash<QString, Record>;
    explicit TEVLocalNetworkProbe(std::shared_ptr<const platform::HostRoot> root) : root_(std::move(root)) {}
    std::shared_ptr<const Table> table() const;

    std::shared_ptr<const platform::HostRoot> root_;
    mutable std::mutex mutex_;
    std::shared_ptr<const Table> table_ = std::make_shared<Table>();
    QStringList names_;
    bool failing_ = false;
    platform::Timer timer_;
};
