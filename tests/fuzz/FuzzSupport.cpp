#include "tests/fuzz/FuzzSupport.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVSensorHistory.h"
#include "acquisition/TEVServiceInvocation.h"
#include "framework/TEVIPv4Address.h"
#include "framework/TEVIPv6Address.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Color.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace fuzz {
namespace {

class DiscardingLog final : public platform::LogSink {
public:
    void write(const QString&) override {}
};

} // namespace

void setUpOnce()
{
    static const bool done = [] {
        static QTemporaryDir xdg;
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            const QString dir = xdg.path() + QLatin1Char('/') + QString::fromLatin1(name);
            QDir().mkpath(dir);
            qputenv(name, dir.toUtf8());
        }
        qunsetenv("KELVARO_SIMULATED_COMPUTER");
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "kelvaro-fuzz";
            static char* argv[] = {name, nullptr};
            new QCoreApplication(argc, argv); // lives as long as the process
        }
        platform::Clock::setShared(std::make_shared<platform::ManualClock>());
        platform::setLogSink(std::make_shared<DiscardingLog>());
        return true;
    }();
    (void)done;
}

QStringList archivableClasses()
{
    // Each decoder below is the one its class registers; referring to it keeps that registration.
    static const QStringList classes = [] {
        using AnyFunction = void (*)();
        const AnyFunction decoders[] = {
            reinterpret_cast<AnyFunction>(&TEVServiceInvocation::voidOneWayInvocation),
            reinterpret_cast<AnyFunction>(&MonitorConnectionInfo::connectionInfoFromPropertyList),
            reinterpret_cast<AnyFunction>(&TEVSensorHistory::createWithCoder),
            reinterpret_cast<AnyFunction>(&platform::Color::decode),
            reinterpret_cast<AnyFunction>(&TEVIPv4Address::createWithCoder),
            reinterpret_cast<AnyFunction>(&TEVIPv6Address::createWithCoder),
            reinterpret_cast<AnyFunction>(&TEVSensorValueConverter::createWithCoder),
            reinterpret_cast<AnyFunction>(&TEVSensor::createWithCoder),
            reinterpret_cast<AnyFunction>(&TEVArtificialSensor::load),
            reinterpret_cast<AnyFunction>(&TEVMachineInfo::sharedMachineInfo),
            reinterpret_cast<AnyFunction>(&TEVSensorDescription::createWithCoder),
        };
        for (const AnyFunction decoder : decoders) {
            if (!decoder)
                std::abort();
        }
        return QStringList{
            QStringLiteral("TEVServiceInvocation"), QStringLiteral("MonitorConnectionInfo"),
            QStringLiteral("TEVSensorHistory"), QStringLiteral("NSColor"), QStringLiteral("TEVIPv4Address"),
            QStringLiteral("TEVIPv6Address"), QStringLiteral("TEVSensorValueConverter"), QStringLiteral("TEVSensor"),
            QStringLiteral("TEVArtificialSensor"), QStringLiteral("TEVMachineInfo"), QStringLiteral("TEVSensorDescription"),
        };
    }();
    return classes;
}

void walk(const QVariant& value)
{
    if (!value.isValid())
        return;
    (void)platform::describePropertyList(value);
    (void)platform::values::strictlyEqual(value, value);
    (void)platform::writePropertyList(value, platform::PlistFormat::Binary);
    (void)platform::writePropertyList(value, platform::PlistFormat::Xml);
    (void)platform::KeyedArchiver::archivedDataWithRootObject(value);
}

void requireReadable(const QByteArray& written, const char* what)
{
    if (written.isNull())
        return;
    const platform::PlistReadResult back = platform::readPropertyList(written);
    if (back.value.isValid())
        return;
    std::fprintf(stderr, "%s: we wrote what we cannot read back (%s)\n", what, qPrintable(back.error));
    std::abort();
}

} // namespace fuzz
