#pragma once
// CpuInfo: the processor identification of /proc/cpuinfo (x86 layout), taken from its first processor
// block, with the package and core counts its "physical id" and "core id" lines give. A plain value.

#include "platform/foundation/HostRoot.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

struct CpuInfo {
    QString vendor; // "vendor_id", e.g. "GenuineIntel"
    QString brand;  // "model name"
    // As the kernel shows them: family and model include the extended fields.
    std::optional<quint32> family;
    std::optional<quint32> model;
    std::optional<quint32> stepping;
    QStringList flags;
    std::optional<quint32> physicalAddressBits; // "address sizes: 39 bits physical, 48 bits virtual"
    std::optional<quint32> virtualAddressBits;
    std::optional<double> megahertz;            // "cpu MHz": the current clock, not the nominal one
    int processorCount = 0;                     // "processor" blocks
    std::optional<int> packageCount;            // distinct "physical id"
    std::optional<int> coreCount;               // distinct ("physical id", "core id")

    // Nothing when the file is missing or holds no processor block.
    static std::optional<CpuInfo> read(const HostRoot& root);
    static std::optional<CpuInfo> parse(const QString& text);

    // The CPUID leaf 1 EAX value that family, model and stepping were derived from (extended family and
    // model fields refilled); nothing unless all three are known and representable.
    std::optional<quint32> signature() const;
};

} // namespace platform
