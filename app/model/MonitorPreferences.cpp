#include "app/model/MonitorPreferences.h"

#include "app/model/MachinePreferences.h"
#include "app/model/MachineSpecifier.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/MonitoringClient.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"

#include <algorithm>
#include <array>
#include <limits>
#include <variant>

namespace values = platform::values;

namespace {

const char* const kClassName = "MonitorPreferences";

const QString kVersionKey = QStringLiteral("PreferencesVersion");
const QString kMachinePreferencesKey = QStringLiteral("MachinePreferences");
const QString kKnownConnectionsKey = QStringLiteral("KnownRemoteConnections3");
const QString kOldKnownConnectionsKey = QStringLiteral("KnownRemoteConnections");
const QString kSeenModelsKey = QStringLiteral("SeenModels");
const QString kActiveRemoteConnectionsKey = QStringLiteral("ActiveRemoteConnections");
const QString kStartupWindowMaskKey = QStringLiteral("StartupWindowMask");
const QString kTalkingThermometerKey = QStringLiteral("TalkingThermometer");

// How a stored number becomes a field. Every rule sees the stored integer as unsigned, so a negative
// value counts as huge: it is capped at the maximum, and an SMC policy above 2 falls back to 0.
enum class Rule { AsStored, TrueWhenAbsent, AtLeastOneCapped, Capped, PolicyCode };

struct Setting {
    const char* key;
    std::variant<bool MonitorPreferences::*, qint64 MonitorPreferences::*, quint64 MonitorPreferences::*> field;
    Rule rule = Rule::AsStored;
    quint64 maximum = 0;
};

// The stored integer as the rules see it: one of 2^63 or more (stored unsigned) is taken whole, not as 0.
quint64 storedInteger(const TEVUserDefaultsProxy& defaults, const QString& key)
{
    const QVariant stored = defaults.objectForKey(key);
    if (values::kindOf(stored) == values::Kind::Unsigned)
        return values::toUnsigned(stored).value_or(0);
    return quint64(defaults.integerForKey(key));
}

quint64 applyRule(quint64 value, Rule rule, quint64 maximum)
{
    switch (rule) {
    case Rule::AtLeastOneCapped:
        return std::min<quint64>(std::max<quint64>(value, 1), maximum);
    case Rule::Capped:
        return std::min(value, maximum);
    case Rule::PolicyCode:
        return value > 2 ? 0 : value;
    case Rule::AsStored:
    case Rule::TrueWhenAbsent:
        break;
    }
    return value;
}

} // namespace

// The keys in the order they are read and written. The members are private, hence the table in here.
struct MonitorPreferencesSettings {
    using P = MonitorPreferences;
    static const std::array<Setting, 24>& table()
    {
        static const std::array<Setting, 24> settings{{
            {"TemperatureUnit", &P::temperatureOutputUnit_},
            {"SuppressesSplashWindow", &P::suppressesSplashWindow_},
            {"GraphsZoomValueRange", &P::graphsZoomValueRange_},
            {"DisplayAbsoluteHistoryTimes", &P::displayAbsoluteTimes_},
            {"ReconnectClientsAtLaunchTime", &P::reconnectClientsOnLaunch_, Rule::TrueWhenAbsent},
            {"DisableSleepWarnings", &P::disableSleepWarnings_},
            {"ShowPositiveBatteryCurrents", &P::showPositiveBatteryCurrents_, Rule::TrueWhenAbsent},
            {"UpdateInterval", &P::updateInterval_, Rule::AtLeastOneCapped, 3600},
            {"SMARTUppdateInterval", &P::smartUpdateInterval_, Rule::AtLeastOneCapped, 3600}, // spelled so
            {"AutosaveHistory", &P::autosaveHistoryMinutes_, Rule::Capped, 1440},
            {"SMARTDiskSaverInterval", &P::diskSaverInterval_, Rule::Capped, 3600},
            {"DockValueMode", &P::numberOfDockValues_, Rule::Capped, 2},
            {"MenuBarValueMode", &P::numberOfMenuBarValues_, Rule::Capped, 8},
            {"VoiceMode", &P::voiceMode_},
            {"NoX86DialogVersionCode", &P::x86DriverDialogVersionCode_},
            {"SMCSensorAccessPolicy", &P::smcAccessPolicy_, Rule::PolicyCode},
            {"SensorWindowOpen", &P::standardWindowOpen_},
            {"FloatingWindowOpen", &P::screenWindowOpen_},
            {"OverviewOpen", &P::overviewOpen_},
            {"SystemInfoOpen", &P::systemInfoOpen_},
            {"BatteryInfoOpen", &P::batteryInfoOpen_},
            {"HistoryWindowsOpen", &P::historyWindowsOpen_},
            {"ExtremeValuesWindowOpen", &P::minMaxWindowOpen_},
            {"DisplayInfoOpen", &P::displayInfoOpen_},
        }};
        return settings;
    }
};

void MonitorPreferences::readPreferences()
{
    TEVUserDefaultsProxy defaults = TEVUserDefaultsProxy::standardUserDefaults();
    const qint64 version = defaults.integerForKey(kVersionKey);
    // A version of 2^63 or more reads as no number (0), yet it is no older set.
    const QVariant storedVersion = defaults.objectForKey(kVersionKey);
    const bool versionBeyondSigned = values::kindOf(storedVersion) == values::Kind::Unsigned && !values::toSigned(storedVersion);
    if (version == 2 || version == 3) {
        if (const auto stored = MachinePreferences::allMachinePreferencesFromUserDefaultsWithKey(kMachinePreferencesKey)) {
            for (auto it = stored->cbegin(); it != stored->cend(); ++it)
                preferencesByMachine_.insert(it.key(), it.value());
        }
        // A set this program cannot read may be one a user or another version can: it goes back as it came.
        const auto machines = values::toDictionary(defaults.objectForKey(kMachinePreferencesKey)).value_or(QVariantMap());
        for (auto it = machines.cbegin(); it != machines.cend(); ++it) {
            if (preferencesByMachine_.contains(it.key()))
                continue;
            unreadableMachinePreferences_.insert(it.key(), it.value());
            platform::log(kClassName, QStringLiteral("the preferences of computer %1 cannot be read; they are kept as stored").arg(it.key()));
        }
        readSettings();
        readKnownConnections();
        firstLaunch_ = false;
    } else if (version == 1) {
        importVersion1Preferences();
    } else {
        // A newer program's set stays unread; writing ours over it would drop every computer's set.
        if (version > preferencesVersion || versionBeyondSigned) {
            storedVersionIsNewer_ = true;
            platform::log(kClassName, QStringLiteral("preferences of the newer version %1 are left unread and will not be overwritten")
                                          .arg(versionBeyondSigned ? QString::number(*values::toUnsigned(storedVersion))
                                                                   : QString::number(version)));
        }
        firstLaunch_ = true;
    }
}

void MonitorPreferences::readSettings()
{
    TEVUserDefaultsProxy defaults = TEVUserDefaultsProxy::standardUserDefaults();
    for (const Setting& setting : MonitorPreferencesSettings::table()) {
        const QString key = QLatin1String(setting.key);
        std::visit(
            [&](auto member) {
                using Field = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<Field, bool>) {
                    const bool absent = !defaults.objectForKey(key).isValid();
                    this->*member = setting.rule == Rule::TrueWhenAbsent && absent ? true : defaults.boolForKey(key);
                } else {
                    quint64 stored = storedInteger(defaults, key);
                    // 2^63 and more was stored unsigned; a signed setting would read it as a negative number, so
                    // it reads as an absent key.
                    if (std::is_same_v<Field, qint64> && values::kindOf(defaults.objectForKey(key)) == values::Kind::Unsigned
                        && stored > quint64(std::numeric_limits<qint64>::max())) {
                        platform::log(kClassName, QStringLiteral("ignoring the stored \"%1\": %2 is no signed integer")
                                                      .arg(key, QString::number(stored)));
                        stored = 0;
                    }
                    this->*member = Field(applyRule(stored, setting.rule, setting.maximum));
                }
            },
            setting.field);
    }
}

void MonitorPreferences::readKnownConnections()
{
    TEVUserDefaultsProxy defaults = TEVUserDefaultsProxy::standardUserDefaults();
    const QVariant current = defaults.objectForKey(kKnownConnectionsKey);
    if (current.isValid()) {
        const auto entries = values::toDictionary(current);
        if (!entries) {
            unreadableConnectionsValue_ = current;
            platform::log(kClassName, QStringLiteral("the known connections cannot be read; they are kept as stored"));
            return;
        }
        for (auto it = entries->cbegin(); it != entries->cend(); ++it) {
            auto info = values::toDictionary(it.value()) ? MonitorConnectionInfo::connectionInfoFromPropertyList(it.value()) : nullptr;
            if (info) {
                knownConnectionInfo_.insert(it.key(), std::move(info));
            } else {
                unreadableConnections_.insert(it.key(), it.value());
                platform::log(kClassName, QStringLiteral("the connection to computer %1 cannot be read; it is kept as stored").arg(it.key()));
            }
        }
        return;
    }
    // The older form: key → [host, port].
    const auto entries = values::toDictionary(defaults.objectForKey(kOldKnownConnectionsKey));
    if (!entries)
        return;
    for (auto it = entries->cbegin(); it != entries->cend(); ++it) {
        const auto pair = values::toArray(it.value());
        if (!pair || pair->size() != 2)
            continue;
        const auto host = values::toString(pair->at(0));
        if (!host || !values::isNumber(pair->at(1)))
            continue;
        // Taken as 16 bits, whatever the stored width.
        const auto port = values::toSigned(pair->at(1));
        const auto bigPort = values::toUnsigned(pair->at(1));
        const quint16 portNumber = port ? quint16(*port) : bigPort ? quint16(*bigPort) : 0;
        if (auto info = MonitorConnectionInfo::createForRemoteConnection(*host, portNumber))
            knownConnectionInfo_.insert(it.key(), std::move(info));
    }
}

void MonitorPreferences::importVersion1Preferences()
{
    TEVUserDefaultsProxy defaults = TEVUserDefaultsProxy::standardUserDefaults();
    const auto machine = TEVMachineInfo::sharedMachineInfo();
    const QString serial = machine ? machine->systemSerialNumber() : QString();
    if (auto preferences = MachinePreferences::machinePreferencesFromUserDefaultsVersion1(); preferences && !serial.isEmpty())
        preferencesByMachine_.insert(serial, std::move(preferences));
    else
        platform::log(kClassName, QStringLiteral("could not import old preferences set: serial number inaccessible"));

    temperatureOutputUnit_ = defaults.integerForKey(QStringLiteral("TemperatureUnit"));
    updateInterval_ = applyRule(storedInteger(defaults, QStringLiteral("UpdateInterval")), Rule::AtLeastOneCapped, 3600);

    const auto mask = quint8(defaults.integerForKey(kStartupWindowMaskKey));
    standardWindowOpen_ = mask & 0x01;
    screenWindowOpen_ = mask & 0x02;
    numberOfDockValues_ = (mask & 0x04) ? 1 : 0;
    historyWindowsOpen_ = mask & 0x08;
    numberOfMenuBarValues_ = (mask & 0x10) ? 1 : 0;

    voiceMode_ = defaults.boolForKey(kTalkingThermometerKey) ? 2 : 1;
    firstLaunch_ = true;
}

MonitorPreferences::WriteResult MonitorPreferences::writePreferencesUsingMonitoringClients(
    const ClientList& clients, const std::shared_ptr<MonitoringClient>& localClient)
{
    TEVUserDefaultsProxy defaults = TEVUserDefaultsProxy::standardUserDefaults();
    if (storedVersionIsNewer_) {
        platform::log(kClassName, QStringLiteral("preferences not written: the stored ones are of a newer version"));
        return {defaults.filePath(), QStringLiteral("the stored preferences are of a newer version")};
    }

    defaults.setInteger(preferencesVersion, kVersionKey);
    for (const Setting& setting : MonitorPreferencesSettings::table()) {
        const QString key = QLatin1String(setting.key);
        std::visit(
            [&](auto member) {
                using Field = std::remove_reference_t<decltype(this->*member)>;
                if constexpr (std::is_same_v<Field, bool>)
                    defaults.setBool(this->*member, key);
                else if constexpr (std::is_same_v<Field, quint64>) // 2^63 and more stay unsigned in the file
                    defaults.setObject(values::fromUnsigned(this->*member), key);
                else
                    defaults.setInteger(this->*member, key);
            },
            setting.field);
    }

    writeConnectionsAndMachines(defaults);

    // Without a local client (before its first ready, or while it is relaunched) the stored models stay.
    if (localClient)
        writeSeenModels(localClient);

    for (const auto& client : clients) {
        if (!client || client == localClient)
            continue;
        rememberRemoteConnection(client->machineSerialNumber());
    }
    defaults.setObject(values::fromArray(rememberedRemoteConnections()), kActiveRemoteConnectionsKey);

    WriteResult result{defaults.filePath(), QString()};
    if (defaults.synchronize()) {
        result.changed = defaults.lastSynchronizeWroteFile();
    } else {
        result.failure = defaults.lastWriteError();
        if (result.failure.isNull())
            result.failure = QStringLiteral("unknown error");
        platform::log(kClassName, QStringLiteral("could not write the preferences: %1").arg(result.failure));
    }

    const auto bundle = platform::Bundle::main();
    platform::DistributedNotificationCenter& center =
        notificationCenter_ ? *notificationCenter_ : platform::DistributedNotificationCenter::defaultCenter();
    if (!center.post(userDefaultsDidChangeNotification, bundle ? bundle->identifier() : QString()))
        platform::log(kClassName, QStringLiteral("could not announce the changed preferences"));
    return result;
}

// What could not be read goes back as it came, unless this run has made a set or a connection of its own
// for that computer.
void MonitorPreferences::writeConnectionsAndMachines(TEVUserDefaultsProxy& defaults)
{
    if (unreadableConnectionsValue_.isValid() && !knownConnectionInfo_.isEmpty()) {
        platform::log(kClassName, QStringLiteral("the unreadable known connections are replaced by the connections made now"));
        unreadableConnectionsValue_ = QVariant();
    }
    if (unreadableConnectionsValue_.isValid()) {
        defaults.setObject(unreadableConnectionsValue_, kKnownConnectionsKey);
    } else {
        QVariantMap connections = unreadableConnections_;
        for (auto it = knownConnectionInfo_.cbegin(); it != knownConnectionInfo_.cend(); ++it)
            connections.insert(it.key(), it.value()->propertyListRepresentation());
        defaults.setObject(values::fromDictionary(connections), kKnownConnectionsKey);
    }

    QVariantMap machines;
    for (auto it = unreadableMachinePreferences_.begin(); it != unreadableMachinePreferences_.end();) {
        if (preferencesByMachine_.contains(it.key())) {
            platform::log(kClassName, QStringLiteral("the unreadable preferences of computer %1 are replaced by its new set").arg(it.key()));
            it = unreadableMachinePreferences_.erase(it);
        } else {
            machines.insert(it.key(), it.value());
            ++it;
        }
    }
    for (auto it = preferencesByMachine_.cbegin(); it != preferencesByMachine_.cend(); ++it)
        machines.insert(it.key(), it.value()->defaultsDictionary());
    defaults.setObject(values::fromDictionary(machines), kMachinePreferencesKey);
}

void MonitorPreferences::writeSeenModels(const std::shared_ptr<MonitoringClient>& localClient)
{
    const QString model = localClient->machineModelCode();
    const QString serial = localClient->machineSerialNumber();
    if (model.isEmpty() || serial.isEmpty())
        return;
    const auto local = localComputer(serial);
    if (!local)
        return;
    TEVUserDefaultsProxy defaults = TEVUserDefaultsProxy::standardUserDefaults();
    QVariantMap seen = values::toDictionary(defaults.objectForKey(kSeenModelsKey)).value_or(QVariantMap());
    if (const auto computers = values::toArray(seen.value(model))) {
        const auto known = MachineSpecifier::specifierArrayForDictionaryArray(*computers).value_or(MachineSpecifier::List());
        const bool listed = std::any_of(known.cbegin(), known.cend(),
                                        [&](const auto& specifier) { return specifier && specifier->isEqual(*local); });
        if (!listed)
            seen.insert(model, QVariantList(*computers) << local->dictionaryRepresentation());
    } else {
        seen.insert(model, QVariantList{local->dictionaryRepresentation()});
    }
    defaults.setObject(values::fromDictionary(seen), kSeenModelsKey);
}

void MonitorPreferences::nameLocalComputer(const QString& serialNumber)
{
    localComputer(serialNumber);
}

std::shared_ptr<MachineSpecifier> MonitorPreferences::localComputer(const QString& serialNumber)
{
    if (!localComputer_ || localComputer_->serialNumber() != serialNumber)
        localComputer_ = MachineSpecifier::createWithSerialNumber(serialNumber);
    return localComputer_;
}

std::shared_ptr<MachinePreferences> MonitorPreferences::preferencesForMachineWithSerialNumber(const QString& serialNumber) const
{
    return preferencesByMachine_.value(serialNumber);
}

std::shared_ptr<MachinePreferences> MonitorPreferences::createLocalMachinePreferencesUsingMonitoringClient(
    const std::shared_ptr<MonitoringClient>& client)
{
    if (!client)
        return nullptr;
    const QString serial = client->machineSerialNumber();
    if (serial.isEmpty()) {
        platform::log(kClassName, QStringLiteral("could not create new preferences set: serial number inaccessible"));
        return nullptr;
    }
    if (preferencesByMachine_.contains(serial)) {
        platform::log(kClassName,
                      QStringLiteral("WARNING - received message to create preference set for already existing machine %1")
                          .arg(serial));
        return nullptr;
    }
    auto preferences = MachinePreferences::createForLocalClient(client);
    if (preferences)
        preferencesByMachine_.insert(serial, preferences);
    return preferences;
}

std::shared_ptr<MachinePreferences> MonitorPreferences::importedMachinePreferencesForMonitoringClient(
    const std::shared_ptr<MonitoringClient>& client, const QString& serialNumber)
{
    if (!client || serialNumber.isEmpty())
        return nullptr;
    const auto source = preferencesByMachine_.value(serialNumber);
    if (!source)
        return nullptr;
    // Filing the copy under an empty serial would lose it at the next launch.
    const QString serial = client->machineSerialNumber();
    if (serial.isEmpty()) {
        platform::log(kClassName, QStringLiteral("could not import preferences set: serial number inaccessible"));
        return nullptr;
    }
    // Replacing an existing set would cut off whoever holds it (the source itself, when both serials agree).
    if (preferencesByMachine_.contains(serial)) {
        platform::log(kClassName, QStringLiteral("WARNING - received message to import a preference set for already existing machine %1")
                                      .arg(serial));
        return nullptr;
    }
    auto copy = MachinePreferences::createWithDefaultsDictionary(source->defaultsDictionary());
    if (copy)
        preferencesByMachine_.insert(serial, copy);
    return copy;
}

std::optional<QVariantMap> MonitorPreferences::machineSpecifiersOfKnownSystems() const
{
    return values::toDictionary(TEVUserDefaultsProxy::standardUserDefaults().objectForKey(kSeenModelsKey));
}

std::optional<QVariantList> MonitorPreferences::listOfSerialsToReconnect() const
{
    return values::toArray(TEVUserDefaultsProxy::standardUserDefaults().objectForKey(kActiveRemoteConnectionsKey));
}

QVariantList& MonitorPreferences::rememberedRemoteConnections()
{
    if (!rememberedRemoteConnections_)
        rememberedRemoteConnections_ = listOfSerialsToReconnect().value_or(QVariantList());
    return *rememberedRemoteConnections_;
}

void MonitorPreferences::rememberRemoteConnection(const QString& serialNumber)
{
    if (serialNumber.isEmpty())
        return;
    QVariantList& remembered = rememberedRemoteConnections();
    const bool listed = std::any_of(remembered.cbegin(), remembered.cend(),
                                    [&](const QVariant& entry) { return values::toString(entry) == serialNumber; });
    if (!listed)
        remembered.append(serialNumber);
}

void MonitorPreferences::forgetRemoteConnection(const QString& serialNumber)
{
    if (serialNumber.isEmpty())
        return;
    rememberedRemoteConnections().removeIf([&](const QVariant& entry) { return values::toString(entry) == serialNumber; });
}

void MonitorPreferences::addConnectionInfo(const std::shared_ptr<MonitorConnectionInfo>& info, const QString& serialNumber)
{
    if (!info || serialNumber.isEmpty())
        return;
    knownConnectionInfo_.insert(serialNumber, info);
    unreadableConnections_.remove(serialNumber);
}

std::shared_ptr<MonitorConnectionInfo> MonitorPreferences::infoToConnectMachineWithSerialNumber(const QString& serialNumber) const
{
    if (serialNumber.isEmpty())
        return nullptr;
    return knownConnectionInfo_.value(serialNumber);
}
