#pragma once
// Fakes for the acquisition core: sensors with settable readings, a computer of a given serial number,
// a core built from them with a settable mount table, and a capture-thread client that records its reports.

#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVDataAcquisitionCore.h"
#include "platform/foundation/HostRoot.h"
#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVMachineInfo.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

namespace acqtest {

// Counts what a capture thread reports to its owner; readiness also notes its thread and how many calls
// had been answered by then.
struct RecordingClient final : TEVCaptureThreadClient {
    int registered = 0;
    int deregistered = 0;
    QStringList readySerials;
    int lost = 0;
    int sleeping = 0;
    int rawValueHandOvers = 0;
    QThread* toldOn = nullptr;
    std::shared_ptr<std::atomic<int>> results = std::make_shared<std::atomic<int>>(0); // calls answered so far
    int resultsWhenReady = -1;

    void registerThreadedServer(const std::shared_ptr<TEVThreadedServer>&) override { ++registered; }
    void deregisterThreadedServer(const std::shared_ptr<TEVThreadedServer>&) override { ++deregistered; }
    void captureThreadHasBecomeReadyUsingSerialNumber(const QString& serialNumber) override
    {
        toldOn = QThread::currentThread();
        resultsWhenReady = *results;
        readySerials.append(serialNumber);
    }
    void captureThreadHasLostConnectionToAcqusitionCenter(const std::shared_ptr<TEVCaptureThread>&) override { ++lost; }
    void captureThreadDidDetectSleepMode(const std::shared_ptr<TEVCaptureThread>&) override { ++sleeping; }
    void captureThreadDidHandOverRawValues() override { ++rawValueHandOvers; }
};

class FakeSensor final : public TEVSensor {
public:
    FakeSensor(const QString& identifier, qint64 raw, qint64 quantity = 1)
        : raw_(raw)
    {
        setUniqueIdentifier(identifier);
        setLocationIdentifier(QStringLiteral("LOCATION ") + identifier);
        setQuantityType(quantity);
    }
    qint64 rawValue() const override
    {
        ++reads_;
        return raw_;
    }
    void resolveObjectDependenciesUsingSensorList(const TEVSensorList& sensors) override
    {
        resolvedWith_ = sensors.size();
    }
    QString className() const override { return QStringLiteral("FakeSensor"); }

    qint64 raw_;
    mutable int reads_ = 0;
    qsizetype resolvedWith_ = -1;
};

// A computer with this serial number and nothing else.
inline std::shared_ptr<const TEVMachineInfo> machineWithSerial(const QString& serial)
{
    const QVariantMap expert{
        {QStringLiteral("Class"), QVariantList{QStringLiteral("IOPlatformExpertDevice")}},
        {QStringLiteral("Properties"),
         QVariantMap{{QStringLiteral("IOPlatformSerialNumber"), serial}, {QStringLiteral("board-id"), QStringLiteral("Mac-1")}}},
    };
    const auto registry = platform::FixtureIORegistry::load({expert});
    EXPECT_TRUE(registry.registry) << registry.error.toStdString();
    return std::make_shared<const TEVMachineInfo>(platform::HostRoot(QStringLiteral("/nonexistent")), registry.registry);
}

// The sensors a fake computer offers; each enumeration answers fresh objects, as the sensor classes do.
struct FakeComputer {
    QMap<QString, qint64> sensors; // identifier → raw value
    QString serial = QStringLiteral("SERIAL-A");
    std::optional<TEVDataAcquisitionCore::MountTable> mounts = TEVDataAcquisitionCore::MountTable{};

    TEVSensorList enumerate() const
    {
        TEVSensorList list;
        for (auto it = sensors.cbegin(); it != sensors.cend(); ++it)
            list.append(std::make_shared<FakeSensor>(it.key(), it.value()));
        return list;
    }
};

inline std::unique_ptr<TEVDataAcquisitionCore> makeCore(const std::shared_ptr<FakeComputer>& computer)
{
    TEVDataAcquisitionCore::Sources sources;
    sources.allSensors = [computer] { return computer->enumerate(); };
    sources.allBatteries = [] { return TEVBatteryInfo::BatteryList{}; };
    sources.machineInfo = machineWithSerial(computer->serial);
    sources.mountedFileSystems = [computer] { return computer->mounts; };
    return std::make_unique<TEVDataAcquisitionCore>(std::move(sources));
}

inline FakeSensor* fake(const TEVDataAcquisitionCore& core, const QString& identifier)
{
    return dynamic_cast<FakeSensor*>(core.sensorDictionary().value(identifier).get());
}

// Moves the manual clock and lets the main thread's run loop fire what came due.
inline void advance(double seconds)
{
    kelvaro::test::clock()->advanceSeconds(seconds);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// A private application-support folder for one test.
class HistoryFolder {
public:
    HistoryFolder() { environment_.set("XDG_DATA_HOME", dir_.path().toUtf8()); }
    QString path(const QString& application = QStringLiteral("Kelvaro")) const
    {
        return dir_.path() + QLatin1Char('/') + application + QStringLiteral("/SensorHistory.tevshf");
    }

private:
    QTemporaryDir dir_;
    kelvaro::test::ScopedEnvironment environment_;
};

} // namespace acqtest
