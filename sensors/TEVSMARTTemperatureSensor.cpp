#include "sensors/TEVSMARTTemperatureSensor.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "sensors/HIDIdleTime.h"
#include "sensors/TEVSensorValueConverter.h"

#include <cstdlib>
#include <mutex>

namespace {

// Fills "%@" placeholders in order, as the string tables write them.
QString fillObjects(QString format, const QStringList& arguments)
{
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const qsizetype at = format.indexOf(QLatin1String("%@"), from);
        if (at < 0)
            break;
        format.replace(at, 2, argument);
        from = at + argument.size();
    }
    return format;
}

bool defaultsSwitchIsOn(const QString& key)
{
    const auto defaults = platform::UserDefaults::standard();
    // The switch is on when the key exists at all, whatever it holds.
    return defaults && defaults->objectForKey(key).isValid();
}

} // namespace

std::atomic<bool> TEVSMARTTemperatureSensor::traceMode_{false};

qint64 smartAccessClockSeconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(platform::monotonicNow()).count();
}

bool smartDriveSaverApplies(quint64 saverIntervalSeconds, double* idleSeconds)
{
    if (saverIntervalSeconds == 0)
        return false;
    const quint64 idle = currentHIDIdleTime();
    if (idle == 0)
        return false; // unknown: never keep the drive from being read
    const double seconds = double(idle) / 1e9;
    if (idleSeconds)
        *idleSeconds = seconds;
    return seconds > double(saverIntervalSeconds);
}

void TEVSMARTTemperatureSensor::load()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TEVSensor::registerSensorClass({QStringLiteral("TEVSMARTTemperatureSensor"), [] { return allSensors(); }});
    });
}

TEVSensorList TEVSMARTTemperatureSensor::allSensors(TEVIORegistryEntry::Registry registry,
                                                    std::shared_ptr<const platform::AtaSmartTransport> transport)
{
    const bool debug = defaultsSwitchIsOn(QStringLiteral("DebugSMARTAccess"));
    if (debug) {
        platform::log(QStringLiteral("Enabled debug mode for S.M.A.R.T. temperature access ---\n"));
        TEVSMARTStorageDevice::setDebugMode(true);
    }
    const bool trace = defaultsSwitchIsOn(QStringLiteral("TraceSMARTTemperatures"));
    traceMode_.store(trace, std::memory_order_relaxed);
    if (trace)
        platform::log(QStringLiteral("Enabled trace mode for S.M.A.R.T. temperature sensors ---\n"));

    TEVSensorList sensors;
    for (auto& device : TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(true, std::move(registry), std::move(transport))) {
        auto sensor = createWithSMARTStorageDevice(std::move(device));
        if (!sensor)
            continue;
        if (debug)
            platform::log(QStringLiteral("   Sensor detected successfully: %1\n").arg(sensor->description()));
        sensors.append(std::move(sensor));
    }
    if (debug)
        platform::log(QStringLiteral("Analysis of S.M.A.R.T. temperature sensors completed ---\n"));
    return sensors;
}

TEVSMARTTemperatureSensor::TEVSMARTTemperatureSensor()
{
    setQuantityType(1);
}

std::shared_ptr<TEVSMARTTemperatureSensor>
TEVSMARTTemperatureSensor::createWithSMARTStorageDevice(std::shared_ptr<TEVSMARTStorageDevice> device)
{
    if (!device)
        return nullptr;
    auto sensor = std::make_shared<TEVSMARTTemperatureSensor>();
    const qint64 now = smartAccessClockSeconds();
    sensor->temperatureCache_ = device->temperature();
    sensor->nextMinimumAccessTime_ = now + qint64(sensor->diskAccessInterval());
    if (sensor->temperatureCache_ == -1)
        return nullptr;

    const QString product = device->productName();
    const QString serial = device->serialNumber();
    sensor->smartDevice_ = std::move(device);
    const auto bundle = platform::Bundle::main();
    sensor->setUniqueIdentifier(QStringLiteral("smart.%1.%2").arg(product, serial));
    sensor->setLocationIdentifier(fillObjects(bundle->localizedString(QStringLiteral("SMART Disk %@ (%@)")), {product, serial}));
    sensor->setSensorName(bundle->localizedString(QStringLiteral("S.M.A.R.T. Hard Disk Sensor")));
    sensor->setSensorType(1);
    sensor->setQuantityType(1);
    sensor->setPrecision(1.0, 0.0);
    if (traceMode())
        platform::log(QStringLiteral("Tracing access to S.M.A.R.T. temperature values of device '%1', serial numer '%2'.\n")
                          .arg(product, serial));
    return sensor;
}

std::shared_ptr<TEVSensorValueConverter> TEVSMARTTemperatureSensor::valueConverter() const
{
    auto converter = std::make_shared<TEVSensorValueConverter>();
    converter->setConversionFunctionType(TEVSensorValueConverter::Identity);
    return converter;
}

qint64 TEVSMARTTemperatureSensor::rawValue() const
{
    const bool trace = traceMode();
    const quint64 saver = diskSaverInterval();
    double idleSeconds = 0;
    if (smartDriveSaverApplies(saver, &idleSeconds)) {
        if (trace)
            platform::log(QString::asprintf("*** rejecting access to S.M.A.R.T. value: disk saver is enabled (%f) and user was idle for (%f).\n",
                                            double(saver), idleSeconds));
        return -1;
    }
    const qint64 now = smartAccessClockSeconds();
    if (now < nextMinimumAccessTime_ || !smartDevice_)
        return temperatureCache_;

    const qint64 reading = smartDevice_->temperature();
    nextMinimumAccessTime_ = now + qint64(diskAccessInterval());
    if (reading != -1 && std::llabs(reading - temperatureCache_) < PlausibleChange) {
        numberOfRetries_ = 0;
        temperatureCache_ = reading;
        return reading;
    }
    if (trace) {
        platform::log(QString::asprintf("*** S.M.A.R.T. device problem detected when accessing temperature sensor (%llu retries):\n",
                                        static_cast<unsigned long long>(numberOfRetries_)));
        if (reading == -1)
            platform::log(QStringLiteral("*** Reason: the device did not return a value. Device error or bus access blocked.\n"));
        else
            platform::log(QString::asprintf("*** Reason: not trusting the value %lld. Previous value was %lld.\n",
                                            static_cast<long long>(reading), static_cast<long long>(temperatureCache_)));
    }
    if (numberOfRetries_ < MaximumRetries) {
        ++numberOfRetries_;
        nextMinimumAccessTime_ = now; // read again at the next call
        return temperatureCache_;
    }
    numberOfRetries_ = 0;
    temperatureCache_ = reading;
    return reading;
}
