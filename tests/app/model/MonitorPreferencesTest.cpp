// The global preferences: reading stored sets of each version with their fall-backs and clamps, the
// known connections, and writing with the seen models, the remote serials and the change notification.

#include "app/model/MonitorPreferences.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "app/model/MachinePreferences.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "sensors/TEVMachineInfo.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <functional>

namespace kt = kelvaro::test;
using Prefs = MonitorPreferences;

namespace {

// Each test reads and writes a domain of its own.
class MonitorPreferencesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.test%1").arg(++counter));
    }
    void TearDown() override { TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({}); }

    static TEVUserDefaultsProxy defaults() { return TEVUserDefaultsProxy::standardUserDefaults(); }
    static void store(const QVariantMap& keys)
    {
        auto proxy = defaults();
        for (auto it = keys.cbegin(); it != keys.cend(); ++it)
            proxy.setObject(it.value(), it.key());
    }
    static Prefs readWith(const QVariantMap& keys)
    {
        store(keys);
        Prefs preferences;
        preferences.readPreferences();
        return preferences;
    }
};

QVariant integer(qint64 value)
{
    return QVariant::fromValue<qint64>(value);
}

} // namespace

TEST_F(MonitorPreferencesTest, StoredValuesAreClampedOrFallBackWhenRead)
{
    struct Row {
        const char* key;
        QVariant stored; // invalid: absent
        std::function<qint64(const Prefs&)> field;
        qint64 expected;
    };
    const auto update = [](const Prefs& p) { return qint64(p.sensorUpdateInterval()); };
    const auto policy = [](const Prefs& p) { return p.smcAccessPolicy(); };
    const auto reconnect = [](const Prefs& p) { return qint64(p.reconnectClientsOnLaunch()); };
    const Row rows[] = {
        {"UpdateInterval", integer(0), update, 1},
        {"UpdateInterval", integer(5000), update, 3600},
        {"UpdateInterval", integer(-1), update, 3600},
        {"SMARTUppdateInterval", integer(0), [](const Prefs& p) { return qint64(p.smartUpdateInterval()); }, 1},
        {"AutosaveHistory", integer(2000), [](const Prefs& p) { return qint64(p.autosaveHistoryMinutes()); }, 1440},
        {"SMARTDiskSaverInterval", integer(-5), [](const Prefs& p) { return qint64(p.smartDiskSaverInterval()); }, 3600},
        {"DockValueMode", integer(3), [](const Prefs& p) { return qint64(p.numberOfDockValues()); }, 2},
        {"MenuBarValueMode", integer(9), [](const Prefs& p) { return qint64(p.numberOfMenuBarValues()); }, 8},
        {"SMCSensorAccessPolicy", integer(2), policy, 2},
        {"SMCSensorAccessPolicy", integer(3), policy, 0},
        {"SMCSensorAccessPolicy", integer(-1), policy, 0},
        {"VoiceMode", QVariant(), [](const Prefs& p) { return p.voiceMode(); }, 0},
        {"SensorWindowOpen", QVariant(), [](const Prefs& p) { return qint64(p.standardWindowShouldOpen()); }, 0},
        {"ReconnectClientsAtLaunchTime", QVariant(), reconnect, 1},
        {"ReconnectClientsAtLaunchTime", false, reconnect, 0},
        {"ShowPositiveBatteryCurrents", QVariant(), [](const Prefs& p) { return qint64(p.showsPositiveBatteryCurrents()); }, 1},
        // 0 means "off" here, not "too short"; signed settings keep negative values.
        {"AutosaveHistory", integer(0), [](const Prefs& p) { return qint64(p.autosaveHistoryMinutes()); }, 0},
        {"SMARTDiskSaverInterval", integer(0), [](const Prefs& p) { return qint64(p.smartDiskSaverInterval()); }, 0},
        {"DockValueMode", integer(0), [](const Prefs& p) { return qint64(p.numberOfDockValues()); }, 0},
        {"TemperatureUnit", integer(-1), [](const Prefs& p) { return p.temperatureDisplayUnit(); }, -1},
        {"VoiceMode", integer(-1), [](const Prefs& p) { return p.voiceMode(); }, -1},
        // Stored unsigned from 2^63 on: as huge as a negative value, so at the cap.
        {"UpdateInterval", QVariant::fromValue<quint64>(quint64(1) << 63), update, 3600},
        {"AutosaveHistory", QVariant::fromValue<quint64>(~quint64(0)), [](const Prefs& p) { return qint64(p.autosaveHistoryMinutes()); }, 1440},
    };
    for (const Row& row : rows) {
        SetUp(); // a fresh domain per row
        const Prefs preferences = readWith({{"PreferencesVersion", integer(2)}, {row.key, row.stored}});
        EXPECT_FALSE(preferences.isFirstLaunchOfApplication());
        EXPECT_EQ(row.field(preferences), row.expected) << row.key << " = " << row.stored.toString().toStdString();
    }
}

TEST_F(MonitorPreferencesTest, AnUnknownVersionIsAFirstLaunchWithTheInitialValues)
{
    for (const QVariant& version : {QVariant(), QVariant(integer(0)), QVariant(integer(4))}) {
        SetUp();
        const Prefs preferences = readWith({{"PreferencesVersion", version}, {"UpdateInterval", integer(30)}});
        EXPECT_TRUE(preferences.isFirstLaunchOfApplication());
        EXPECT_EQ(preferences.sensorUpdateInterval(), 2u);
        EXPECT_TRUE(preferences.standardWindowShouldOpen());
    }
}

TEST_F(MonitorPreferencesTest, AVersion1SetIsImportedAsAFirstLaunch)
{
    const auto portable = platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/portable")));
    ASSERT_TRUE(portable.computer);
    platform::SimulatedComputer::setCurrent(portable.computer); // the local computer's serial number
    const Prefs preferences = readWith({{"PreferencesVersion", integer(1)}, {"StartupWindowMask", integer(0x11D)},
                                        {"UpdateInterval", integer(0)}, {"TalkingThermometer", true},
                                        {"TemperatureUnit", integer(1)}, {"OverviewOpen", false}});
    EXPECT_TRUE(preferences.isFirstLaunchOfApplication());
    EXPECT_TRUE(preferences.standardWindowShouldOpen());
    EXPECT_FALSE(preferences.screenDisplayShouldOpen());
    EXPECT_TRUE(preferences.historyWindowsShouldOpen());
    EXPECT_EQ(preferences.numberOfDockValues(), 1u);
    EXPECT_EQ(preferences.numberOfMenuBarValues(), 1u);
    EXPECT_EQ(preferences.voiceMode(), 2);
    EXPECT_EQ(preferences.sensorUpdateInterval(), 1u);
    EXPECT_EQ(preferences.temperatureDisplayUnit(), 1);
    EXPECT_TRUE(preferences.overviewShouldOpen()); // not a key of that version
    EXPECT_TRUE(preferences.preferencesForMachineWithSerialNumber(TEVMachineInfo::sharedMachineInfo()->systemSerialNumber()));

    platform::SimulatedComputer::setCurrent(nullptr);
}

TEST_F(MonitorPreferencesTest, KnownConnectionsKeepSoundEntriesAndFallBackToTheOlderKeyOnlyWhenTheNewIsAbsent)
{
    const QVariantMap manual{{"ConnectionSpecifier", "Manual"}, {"ServiceName", "agent.example"}, {"ServicePort", integer(37037)}};
    const QVariantMap older{{"OLD", QVariantList{"old.example", integer(70000)}}, // port taken as 16 bits
                            {"BAD", QVariantList{"x", integer(1), integer(2)}},
                            {"TEXT", QVariantList{"x", "1"}}};
    const Prefs preferences = readWith({{"PreferencesVersion", integer(3)},
                                        {"KnownRemoteConnections3", QVariantMap{{"S1", manual}, {"S2", "Manual"},
                                                                                {"S3", QVariantMap{{"ConnectionSpecifier", "Other"}}}}},
                                        {"KnownRemoteConnections", older}});
    const auto info = preferences.infoToConnectMachineWithSerialNumber("S1");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->hostSpecifier(), "agent.example");
    EXPECT_EQ(info->portNumber(), 37037);
    EXPECT_FALSE(preferences.infoToConnectMachineWithSerialNumber("S2"));
    EXPECT_FALSE(preferences.infoToConnectMachineWithSerialNumber("S3"));
    EXPECT_FALSE(preferences.infoToConnectMachineWithSerialNumber("OLD"));

    SetUp();
    const Prefs fromOlder = readWith({{"PreferencesVersion", integer(2)}, {"KnownRemoteConnections", older}});
    const auto old = fromOlder.infoToConnectMachineWithSerialNumber("OLD");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->hostSpecifier(), "old.example");
    EXPECT_EQ(old->portNumber(), quint16(70000));
    EXPECT_FALSE(fromOlder.infoToConnectMachineWithSerialNumber("BAD"));
    EXPECT_FALSE(fromOlder.infoToConnectMachineWithSerialNumber("TEXT"));

    SetUp();
    const Prefs notADictionary = readWith({{"PreferencesVersion", integer(3)}, {"KnownRemoteConnections3", "S1"},
                                           {"KnownRemoteConnections", older}});
    EXPECT_FALSE(notADictionary.infoToConnectMachineWithSerialNumber("OLD"));

    Prefs added;
    added.addConnectionInfo(old, QString());
    added.addConnectionInfo(nullptr, "S");
    EXPECT_FALSE(added.infoToConnectMachineWithSerialNumber("S"));
    EXPECT_FALSE(added.infoToConnectMachineWithSerialNumber(QString()));
}

TEST_F(MonitorPreferencesTest, WritingWithoutTheLocalClientKeepsTheSeenModels)
{
    // Before the local client's first ready, or while it is relaunched, a quit still writes the set.
    auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
    const QVariantMap seen{{"MacBookPro5,1", QVariantList{QVariantMap{{"HostOrComputerName", "mbp"}, {"SerialNumber", "W8"}}}}};
    defaults.setObject(seen, "SeenModels");
    MonitorPreferences preferences;
    preferences.setSensorUpdateInterval(7);
    preferences.writePreferencesUsingMonitoringClients({}, nullptr);
    EXPECT_EQ(defaults.objectForKey("SeenModels"), QVariant(seen));
    EXPECT_EQ(defaults.objectForKey("ActiveRemoteConnections"), QVariant(QVariantList()));
    EXPECT_EQ(defaults.integerForKey("UpdateInterval"), 7);
}

// Entries of the preferences file that this program cannot read go back into the file as they were, after a
// read and a write with nothing changed; the readable ones around them are read and written as usual.
TEST(MonitorPreferencesFile, UnreadableEntriesAreWrittenBackUnchanged)
{
    const QByteArray goodSet = "<key>GOOD</key><dict><key>DockSensors</key><array><string>x</string></array></dict>";
    const QByteArray manual = "<dict><key>ConnectionSpecifier</key><string>Manual</string><key>ServiceName</key>"
                              "<string>agent.example</string><key>ServicePort</key><integer>37037</integer></dict>";
    struct Row {
        const char* name;
        QByteArray entries; // inside the top-level dictionary
        QStringList path;   // of the entry that must come back
    };
    const Row rows[] = {
        {"a computer's set that is no dictionary",
         "<key>MachinePreferences</key><dict>" + goodSet + "<key>BAD</key><string>no set</string></dict>",
         {"MachinePreferences", "BAD"}},
        {"a computer's set that is an array",
         "<key>MachinePreferences</key><dict>" + goodSet + "<key>BAD</key><array><integer>1</integer></array></dict>",
         {"MachinePreferences", "BAD"}},
        {"a known connection without a host",
         "<key>KnownRemoteConnections3</key><dict><key>S1</key>" + manual + "<key>BAD</key><dict><key>ConnectionSpecifier</key>"
         "<string>Manual</string><key>ServicePort</key><integer>37037</integer></dict></dict>",
         {"KnownRemoteConnections3", "BAD"}},
        {"a known connection of an unknown kind",
         "<key>KnownRemoteConnections3</key><dict><key>BAD</key><dict><key>ConnectionSpecifier</key><string>Other</string></dict></dict>",
         {"KnownRemoteConnections3", "BAD"}},
        {"a known connection that is no dictionary",
         "<key>KnownRemoteConnections3</key><dict><key>BAD</key><string>agent.example</string></dict>",
         {"KnownRemoteConnections3", "BAD"}},
        {"known connections that are no dictionary",
         "<key>KnownRemoteConnections3</key><array><string>agent.example</string></array>",
         {"KnownRemoteConnections3"}},
    };
    static int counter = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QString domain = QStringLiteral("com.tarnwell.kelvaro.unreadable%1").arg(++counter);
        const QString path = platform::UserDefaults::pathForDomain(domain);
        const QByteArray bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                                 "<key>PreferencesVersion</key><integer>3</integer>" + row.entries + "</dict></plist>";
        kt::writeFile(path, bytes);
        const auto entryIn = [&](const QByteArray& file) {
            QVariant value = platform::readPropertyList(file).value;
            for (const QString& key : row.path)
                value = value.toMap().value(key);
            return value;
        };
        const QVariant before = entryIn(bytes);
        ASSERT_TRUE(before.isValid());

        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain);
        Prefs preferences;
        preferences.readPreferences();
        preferences.writePreferencesUsingMonitoringClients({}, nullptr);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});

        const QByteArray written = kt::readFile(path);
        EXPECT_TRUE(platform::values::strictlyEqual(entryIn(written), before)) << written.toStdString();
        const QVariantMap file = platform::readPropertyList(written).value.toMap();
        if (row.entries.contains("GOOD")) {
            EXPECT_TRUE(file.value("MachinePreferences").toMap().value("GOOD").toMap().contains("StandardWindowSensors"));
        }
        if (row.entries.contains("agent.example</string><key>ServicePort")) {
            EXPECT_EQ(file.value("KnownRemoteConnections3").toMap().value("S1"), platform::readPropertyList(manual).value);
        }
    }
}

// An integer beyond 64 bits makes the file unreadable rather than another number: it is set aside whole
// at the first write, not read as 1 and written back so.
TEST(MonitorPreferencesFile, AnIntegerBeyondSixtyFourBitsIsNoNumberOfTheSettings)
{
    const QString domain = QStringLiteral("com.tarnwell.kelvaro.widenumber");
    const QString path = platform::UserDefaults::pathForDomain(domain);
    const QByteArray bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                             "<key>PreferencesVersion</key><integer>3</integer>"
                             "<key>UpdateInterval</key><integer>-99999999999999999999</integer></dict></plist>";
    kt::writeFile(path, bytes);
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain);
    Prefs preferences;
    preferences.readPreferences();
    EXPECT_TRUE(preferences.isFirstLaunchOfApplication());
    EXPECT_EQ(preferences.sensorUpdateInterval(), 2u);
    preferences.writePreferencesUsingMonitoringClients({}, nullptr);
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    EXPECT_EQ(kt::readFile(path + QStringLiteral(".corrupt")), bytes);
}

// Integers from 2^63 to 2^64-1 are stored unsigned. After a read and a write an unsigned setting keeps the
// number (or its cap); a signed one reads it as absent; no key comes back as a negative number, and a
// version that high leaves the file alone.
TEST(MonitorPreferencesFile, IntegersFromTwoToTheSixtyThreeKeepTheirValueOrAreRefused)
{
    const QByteArray twoTo63 = "9223372036854775808", max = "18446744073709551615";
    const struct {
        const char* key;
        QByteArray stored;
        QByteArray written; // null: the file is not written
    } rows[] = {
        {"NoX86DialogVersionCode", twoTo63, twoTo63},
        {"NoX86DialogVersionCode", max, max},
        {"UpdateInterval", max, "3600"},
        {"TemperatureUnit", twoTo63, "0"},
        {"VoiceMode", max, "0"},
        {"SMCSensorAccessPolicy", twoTo63, "0"},
        {"PreferencesVersion", twoTo63, QByteArray()},
    };
    static int counter = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + " = " + row.stored.toStdString());
        const QString domain = QStringLiteral("com.tarnwell.kelvaro.unsigned%1").arg(++counter);
        const QString path = platform::UserDefaults::pathForDomain(domain);
        QByteArray entries = "<key>" + QByteArray(row.key) + "</key><integer>" + row.stored + "</integer>";
        if (QByteArray(row.key) != "PreferencesVersion")
            entries.prepend("<key>PreferencesVersion</key><integer>3</integer>");
        const QByteArray bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + entries
                                 + "</dict></plist>";
        kt::writeFile(path, bytes);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain);
        Prefs preferences;
        preferences.readPreferences();
        preferences.writePreferencesUsingMonitoringClients({}, nullptr);
        TEVUserDefaultsProxy::standardUserDefaults().synchronize();
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});

        const QByteArray written = kt::readFile(path);
        if (row.written.isNull()) {
            EXPECT_EQ(written, bytes);
            continue;
        }
        const QByteArray entry = "<key>" + QByteArray(row.key) + "</key>";
        const qsizetype at = written.indexOf(entry);
        ASSERT_GE(at, 0) << written.toStdString();
        const qsizetype from = written.indexOf("<integer>", at) + 9;
        EXPECT_EQ(written.mid(from, written.indexOf("</integer>", from) - from), row.written);
        EXPECT_FALSE(written.contains("<integer>-")) << written.toStdString();
    }
}

// Once this run makes its own connection for a computer, it takes the place of the unreadable one.
TEST_F(MonitorPreferencesTest, ANewConnectionReplacesAnUnreadableOne)
{
    Prefs preferences = readWith({{"PreferencesVersion", integer(3)},
                                  {"KnownRemoteConnections3", QVariantMap{{"S1", QVariantMap{{"ConnectionSpecifier", "Manual"}}}}}});
    preferences.addConnectionInfo(MonitorConnectionInfo::createForRemoteConnection("agent.example", 37037), "S1");
    preferences.writePreferencesUsingMonitoringClients({}, nullptr);
    const auto stored = platform::values::toDictionary(defaults().objectForKey("KnownRemoteConnections3"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->value("S1").toMap().value("ServiceName"), QVariant("agent.example"));
}
