#include "app/model/MachinePreferences.h"

#include "app/model/HistoryWindowPreferences.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using namespace platform::values;

namespace {

// A computer whose sensors are described by location and quantity type alone.
class FakeSource final : public TEVSensorSource {
public:
    void add(const QString& identifier, qint64 quantity, const QString& location = {})
    {
        TEVSensor sensor;
        sensor.setUniqueIdentifier(identifier);
        sensor.setLocationIdentifier(location.isNull() ? identifier : location);
        sensor.setQuantityType(quantity);
        sensor.setPrecision(0.01, 0.0);
        descriptions.insert(identifier, TEVSensorDescription::createForSensor(&sensor));
    }
    QString clientIdentification() const override { return QStringLiteral("SERIAL-1"); }
    QString machineSerialNumber() override { return QStringLiteral("SERIAL-1"); }
    QString machineName() override { return QStringLiteral("Test"); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& identifier) override
    {
        return descriptions.value(identifier);
    }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& identifier) override
    {
        return descriptions.contains(identifier) ? std::make_shared<TEVSensorValueConverter>() : nullptr;
    }
    qint64 cachedRawValueWithIdentifier(const QString&) override { return -1; }
    void disableLocalAccess(bool, const QString&) override {}

    QMap<QString, std::shared_ptr<TEVSensorDescription>> descriptions;
};

// Makes a bundle with these English default-table entries the main bundle while it lives.
class ScopedMainBundle {
public:
    explicit ScopedMainBundle(const QByteArray& entries)
    {
        QDir(dir_.path()).mkpath(QStringLiteral("en.lproj"));
        QFile strings(dir_.filePath(QStringLiteral("en.lproj/Localizable.strings")));
        if (strings.open(QIODevice::WriteOnly))
            strings.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
                          "</dict></plist>\n");
        strings.close();
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir_.path()));
    }
    ~ScopedMainBundle() { platform::Bundle::setMain(nullptr); }

private:
    QTemporaryDir dir_;
};

QStringList windowNames(MachinePreferences& set)
{
    QStringList names;
    for (const auto& window : set.historyWindowPreferences())
        names.append(window->windowName());
    return names;
}

} // namespace

TEST(MachinePreferences, ReadingClampsOutOfRangeNumbersOnly)
{
    struct Row {
        const char* key;
        QVariant stored;
        double expected;
        double (*read)(MachinePreferences&);
    };
    const auto standardSize = [](MachinePreferences& p) { return double(p.standardWindowFont().size); };
    const auto ratio = [](MachinePreferences& p) { return double(p.standardWindowFontRatio()); };
    const auto transparency = [](MachinePreferences& p) { return double(p.screenDisplayTransparency()); };
    const auto multiplier = [](MachinePreferences& p) { return double(p.talkIntervalMultiplier()); };
    const auto delta = [](MachinePreferences& p) { return double(p.talkDeltaValue()); };
    const auto menuSize = [](MachinePreferences& p) { return double(p.menuBarFont().size); };
    const Row rows[] = {
        {"StandardWindowFontSize", fromReal(2.0), 4.0, standardSize},
        {"StandardWindowFontSize", fromReal(300.0), 128.0, standardSize},
        {"StandardWindowFontSize", fromReal(17.5), 17.5, standardSize},
        {"StandardWindowFontRatio", fromReal(3.0), 2.5, ratio},
        {"FloatingWindowTransparency", fromReal(-0.5), 0.0, transparency},
        {"TalkIntervalMultiplier", fromUnsigned(0), 1.0, multiplier},
        {"TalkIntervalMultiplier", fromUnsigned(50), 20.0, multiplier},
        {"TalkIntervalMultiplier", fromSigned(-3), 20.0, multiplier},
        {"TalkDeltaValue", fromReal(0.01), double(0.1f), delta},
        {"TalkDeltaValue", fromReal(100.0), 30.0, delta},
        {"MenuBarFontSize", fromSigned(1), 4.0, menuSize},
        {"MenuBarFontSize", fromString(QStringLiteral("12")), 14.0, menuSize}, // no number: default kept
    };
    for (const Row& row : rows) {
        const auto set = MachinePreferences::createWithDefaultsDictionary(QVariantMap{{QLatin1String(row.key), row.stored}});
        ASSERT_TRUE(set);
        EXPECT_DOUBLE_EQ(row.read(*set), row.expected) << row.key << " " << row.stored.toString().toStdString();
    }

    // Setters store what they are given.
    MachinePreferences set;
    set.setStandardWindowFontName(QStringLiteral("Mono"), 300.0f);
    set.setTalkIntervalMultiplier(0);
    EXPECT_EQ(set.standardWindowFont().size, 300.0f);
    EXPECT_EQ(set.talkIntervalMultiplier(), 0u);
}

TEST(MachinePreferences, ScreenDisplayFontSizeLivesUnderItsMisspeltKeyOnly)
{
    auto set = MachinePreferences::createWithDefaultsDictionary(
        QVariantMap{{QStringLiteral("FloatingWindowFontSize"), fromReal(40.0)}});
    EXPECT_EQ(set->screenDisplayFont().size, 24.0f);
    set = MachinePreferences::createWithDefaultsDictionary(
        QVariantMap{{QStringLiteral("FloatingWindwoFontSize"), fromReal(40.0)}});
    EXPECT_EQ(set->screenDisplayFont().size, 40.0f);
    const QVariantMap written = set->defaultsDictionary();
    EXPECT_FALSE(written.contains(QStringLiteral("FloatingWindowFontSize")));
    EXPECT_EQ(toReal(written.value(QStringLiteral("FloatingWindwoFontSize"))), 40.0);
}

TEST(MachinePreferences, StoredSetReadsBackUnchangedExceptOverlaysOfMissingWindows)
{
    auto source = std::make_shared<FakeSource>();
    source->add(QStringLiteral("T1"), 1);
    auto original = std::make_shared<MachinePreferences>();
    original->addNewSensorsWithUniversalIdentifiers({QStringLiteral("T1")}, source);
    original->setScreenDisplayForeground(platform::Color::rgb(platform::Color::Space::DeviceRGB, 0.25f, 0.5f, 0.75f));
    original->setAlertObjectPath(QStringLiteral("/usr/bin/true"));
    original->setProbeDescriptions({QVariantMap{{QStringLiteral("Type"), QStringLiteral("CPULoad")}}});
    original->setLCDModuleDescriptions(QVariantMap{{QStringLiteral("Module"), fromSigned(3)}});
    original->setLCDModuleDescriptions(std::nullopt);
    original->alertTriggerSensorNames().append(QStringLiteral("T1"));
    auto& windows = original->historyWindowPreferences();
    ASSERT_EQ(windows.size(), 1);
    auto second = std::make_shared<HistoryWindowPreferences>();
    windows.append(second);
    windows.first()->overlayReferences() = {second->overlayIdentifier(), QStringLiteral("gone")};

    kt::log().clear();
    const QVariantMap written = original->defaultsDictionary();
    EXPECT_EQ(written.size(), 48);
    const auto copy = MachinePreferences::createWithDefaultsDictionary(written);
    ASSERT_TRUE(copy);
    const QVariantMap rewritten = copy->defaultsDictionary();
    EXPECT_TRUE(strictlyEqual(fromDictionary(rewritten), fromDictionary(written)));
    EXPECT_EQ(kt::log().lines(), QStringList{}); // nothing written was unreadable
    EXPECT_EQ(copy->historyWindowPreferences().first()->overlayReferences(), QStringList{second->overlayIdentifier()});
    EXPECT_EQ(copy->gaugeDictionary().keys(), QStringList{QStringLiteral("T1")});
    EXPECT_FALSE(copy->gaugeDictionary().value(QStringLiteral("T1"))->isReadyAndConnected());
    EXPECT_EQ(copy->lcdModuleDescriptions().value(QStringLiteral("Module")), fromSigned(3));
    const auto color = copy->screenDisplayForeground();
    EXPECT_EQ(color->colorSpace(), platform::Color::Space::DeviceRGB);
    EXPECT_EQ(color->green(), 0.5f);
}

TEST(MachinePreferences, UnreadableColourKeepsItsDefault)
{
    const auto set = MachinePreferences::createWithDefaultsDictionary(
        QVariantMap{{QStringLiteral("FloatingWindowForegroundColor"), fromData("not an archive")},
                    {QStringLiteral("DockTextColor"), fromString(QStringLiteral("red"))}});
    EXPECT_EQ(set->screenDisplayForeground()->red(), 1.0f);
    EXPECT_EQ(set->screenDisplayForeground()->green(), 0.0f);
    EXPECT_EQ(set->dockTextColor()->whiteLevel(), 0.0f);
    EXPECT_EQ(MachinePreferences::createWithDefaultsDictionary(std::nullopt), nullptr);
}

TEST(MachinePreferences, FirstSensorsFillEveryChannelAndOneHistoryWindowPerType)
{
    auto source = std::make_shared<FakeSource>();
    source->add(QStringLiteral("fan"), 6, QStringLiteral("A fan"));
    source->add(QStringLiteral("t.b"), 1, QStringLiteral("Z heat"));
    source->add(QStringLiteral("volt"), 2, QStringLiteral("Rail"));
    source->add(QStringLiteral("t.a"), 1, QStringLiteral("B heat"));
    MachinePreferences set;
    set.addNewSensorsWithUniversalIdentifiers(
        {QStringLiteral("fan"), QStringLiteral("t.b"), QStringLiteral("unknown"), QStringLiteral("volt"), QStringLiteral("t.a")},
        source);

    const QStringList byTypeAndName{QStringLiteral("t.a"), QStringLiteral("t.b"), QStringLiteral("volt"), QStringLiteral("fan")};
    EXPECT_EQ(set.standardWindowSensorNames(), byTypeAndName);
    EXPECT_EQ(set.screenDisplaySensorNames(), byTypeAndName);
    EXPECT_EQ(set.menuBarSensorNames(), byTypeAndName);
    EXPECT_EQ(set.dockSensorNames(), QStringList{QStringLiteral("t.b")}); // first temperature in list order
    EXPECT_EQ(set.talkingSensorNames(), QStringList{QStringLiteral("t.b")});
    EXPECT_TRUE(set.alertTriggerSensorNames().isEmpty());
    EXPECT_EQ(set.gaugeDictionary().size(), 4);
    EXPECT_EQ(windowNames(set), (QStringList{HistoryWindowPreferences::defaultWindowNameForSensorQuantity(1),
                                            HistoryWindowPreferences::defaultWindowNameForSensorQuantity(2),
                                            HistoryWindowPreferences::defaultWindowNameForSensorQuantity(6)}));
    EXPECT_EQ(set.historyWindowPreferences().first()->sensorIdentifierList(),
              (QStringList{QStringLiteral("t.a"), QStringLiteral("t.b")}));
}

TEST(MachinePreferences, LaterSensorsJoinTheFirstWindowOfTheirTypeAndKeepExistingGauges)
{
    auto source = std::make_shared<FakeSource>();
    source->add(QStringLiteral("t1"), 1);
    source->add(QStringLiteral("v1"), 2);
    MachinePreferences set;
    set.addNewSensorsWithUniversalIdentifiers({QStringLiteral("t1"), QStringLiteral("v1")}, source);
    const auto t1 = set.gaugeDictionary().value(QStringLiteral("t1"));
    t1->setCustomName(QStringLiteral("Mine"));
    set.dockSensorNames() = {QStringLiteral("v1")};
    set.talkingSensorNames().clear();

    source->add(QStringLiteral("t0"), 1);
    source->add(QStringLiteral("t9"), 1);
    kt::log().clear();
    set.addNewSensorsWithUniversalIdentifiers({QStringLiteral("t1"), QStringLiteral("t0"), QStringLiteral("remote.NODOT"),
                                               QStringLiteral("remote.SERIAL-1.t9")},
                                              source);
    EXPECT_EQ(set.gaugeDictionary().value(QStringLiteral("t1")), t1);
    EXPECT_EQ(set.historyWindowPreferences().size(), 2);
    EXPECT_EQ(set.historyWindowPreferences().first()->sensorIdentifierList(),
              (QStringList{QStringLiteral("t1"), QStringLiteral("remote.SERIAL-1.t9"), QStringLiteral("t0")}));
    EXPECT_EQ(set.gaugeDictionary().value(QStringLiteral("remote.SERIAL-1.t9"))->sensorIdentifier(), QStringLiteral("t9"));
    EXPECT_EQ(set.dockSensorNames(), QStringList{QStringLiteral("v1")});
    EXPECT_EQ(set.talkingSensorNames(), QStringList{QStringLiteral("t0")});
    EXPECT_EQ(set.standardWindowSensorNames().count(QStringLiteral("t1")), 1);

    // A sensor that went (its gauge removed, its list entries left) and comes back is listed once.
    set.gaugeDictionary().remove(QStringLiteral("v1"));
    set.addNewSensorsWithUniversalIdentifiers({QStringLiteral("v1")}, source);
    for (const QStringList* list : {&set.standardWindowSensorNames(), &set.screenDisplaySensorNames(), &set.menuBarSensorNames()})
        EXPECT_EQ(list->count(QStringLiteral("v1")), 1) << list->join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(kt::log().contains(
        QStringLiteral("MachinePreferences: WARNING: could not create new gauge preference set for identifier remote.NODOT\n")));
}

TEST(MachinePreferences, RemovingAGaugeClearsItFromEveryListByIdentity)
{
    auto source = std::make_shared<FakeSource>();
    source->add(QStringLiteral("t1"), 1);
    source->add(QStringLiteral("t2"), 1);
    MachinePreferences set;
    set.addNewSensorsWithUniversalIdentifiers({QStringLiteral("t1"), QStringLiteral("t2")}, source);
    set.alertTriggerSensorNames() = {QStringLiteral("t1"), QStringLiteral("t2"), QStringLiteral("t1")};

    set.removeAllReferencesToGauge(TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("t1"), source));
    EXPECT_EQ(set.gaugeDictionary().size(), 2); // an equal gauge is not the filed one

    set.removeAllReferencesToGauge(set.gaugeDictionary().value(QStringLiteral("t1")));
    const QStringList rest{QStringLiteral("t2")};
    EXPECT_EQ(set.gaugeDictionary().keys(), rest);
    for (const QStringList* list : {&set.standardWindowSensorNames(), &set.screenDisplaySensorNames(), &set.menuBarSensorNames(),
                                    &set.alertTriggerSensorNames(), &set.historyWindowPreferences().first()->sensorIdentifierList()})
        EXPECT_EQ(*list, rest);
    EXPECT_TRUE(set.dockSensorNames().isEmpty());
    EXPECT_TRUE(set.talkingSensorNames().isEmpty());
}

TEST(MachinePreferences, MixedHistoryWindowKeepsTheFirstTypeOnceAllGaugesAreConnected)
{
    auto source = std::make_shared<FakeSource>();
    source->add(QStringLiteral("v"), 2);
    source->add(QStringLiteral("t1"), 1);
    source->add(QStringLiteral("t2"), 1);
    MachinePreferences set;
    set.addNewSensorsWithUniversalIdentifiers({QStringLiteral("v"), QStringLiteral("t1"), QStringLiteral("t2")}, source);
    auto mixed = std::make_shared<HistoryWindowPreferences>();
    mixed->sensorIdentifierList() = {QStringLiteral("v"), QStringLiteral("t1"), QStringLiteral("t2")};
    set.historyWindowPreferences().append(mixed);

    set.gaugeDictionary().value(QStringLiteral("t2"))->connectToClient(nullptr);
    set.removeTypeInvalidGaugesFromHistoryWindowPreferences();
    EXPECT_EQ(mixed->sensorIdentifierList().size(), 3);

    set.gaugeDictionary().value(QStringLiteral("t2"))->connectToClient(source);
    set.removeTypeInvalidGaugesFromHistoryWindowPreferences();
    EXPECT_EQ(mixed->sensorIdentifierList(), QStringList{QStringLiteral("v")});
}

TEST(MachinePreferences, NamesFollowALocalisationThatAppearedAndResetRestoresDefaults)
{
    auto source = std::make_shared<FakeSource>();
    source->add(QStringLiteral("a"), 1, QStringLiteral("CPU_DIE"));
    source->add(QStringLiteral("b"), 1, QStringLiteral("PLAIN"));
    MachinePreferences set;
    set.addNewSensorsWithUniversalIdentifiers({QStringLiteral("a"), QStringLiteral("b")}, source);
    const auto a = set.gaugeDictionary().value(QStringLiteral("a"));
    const auto b = set.gaugeDictionary().value(QStringLiteral("b"));
    ASSERT_EQ(a->customName(), QStringLiteral("CPU_DIE"));
    b->setCustomName(QStringLiteral("Mine"));

    const ScopedMainBundle bundle("<key>CPU_DIE</key><string>Processor die</string>");
    set.updateOutdatedSensorNames();
    EXPECT_EQ(a->customName(), QStringLiteral("Processor die"));
    EXPECT_EQ(a->spokenName(), QStringLiteral("Processor die"));
    EXPECT_EQ(a->shortName(), QStringLiteral("PROCE"));
    EXPECT_EQ(b->customName(), QStringLiteral("Mine"));

    b->setShortName(QStringLiteral("X"));
    b->setFormatTag(3);
    b->setEnabled(false);
    set.resetGaugesCustomNames(true, true, false, true, false, true);
    EXPECT_EQ(b->customName(), QStringLiteral("PLAIN"));
    EXPECT_EQ(b->shortName(), QStringLiteral("PLAIN"));
    EXPECT_EQ(b->spokenName(), QStringLiteral("PLAIN")); // made so, not reset
    EXPECT_EQ(b->formatTag(), TEVGauge::defaultFormatTagForQuantityType(1));
    EXPECT_TRUE(b->isEnabled());
}

TEST(MachinePreferences, AllSetsFromTheUserDefaultsSkipEntriesThatAreNoDictionaries)
{
    EXPECT_FALSE(MachinePreferences::allMachinePreferencesFromUserDefaultsWithKey(QString()));
    EXPECT_TRUE(MachinePreferences::allMachinePreferencesFromUserDefaultsWithKey(QStringLiteral("NoSuchKey"))->isEmpty());

    auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
    defaults.setObject(QVariantMap{{QStringLiteral("S1"), QVariantMap{{QStringLiteral("DockSensors"), QVariantList{QStringLiteral("x")}}}},
                                   {QStringLiteral("S2"), fromSigned(4)}},
                       QStringLiteral("MachinePreferencesTestSets"));
    const auto sets = MachinePreferences::allMachinePreferencesFromUserDefaultsWithKey(QStringLiteral("MachinePreferencesTestSets"));
    ASSERT_TRUE(sets);
    EXPECT_EQ(sets->keys(), QStringList{QStringLiteral("S1")});
    EXPECT_EQ(sets->value(QStringLiteral("S1"))->dockSensorNames(), QStringList{QStringLiteral("x")});
    defaults.removeObjectForKey(QStringLiteral("MachinePreferencesTestSets"));
}

TEST(MachinePreferences, FirstGenerationSetTakesTheScreenDisplayLooksUnclamped)
{
    auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
    const auto blue = platform::Color::rgb(platform::Color::Space::CalibratedRGB, 0.0f, 0.0f, 1.0f);
    defaults.setObject(fromData(platform::KeyedArchiver::archivedDataWithRootObject(fromObject(blue))),
                       QStringLiteral("FloatWindowColor"));
    defaults.setFloat(1.5f, QStringLiteral("FloatWindowTransparency"));
    const auto set = MachinePreferences::machinePreferencesFromUserDefaultsVersion1();
    EXPECT_EQ(set->screenDisplayForeground()->blue(), 1.0f);
    EXPECT_EQ(set->screenDisplayTransparency(), 1.5f);
    EXPECT_FALSE(set->screenDisplayHasShadow()); // absent reads NO
    for (const char* name : {"FloatWindowColor", "FloatWindowTransparency"})
        defaults.removeObjectForKey(QLatin1String(name));
    // Never stored: the screen display stays opaque, not invisible.
    EXPECT_EQ(MachinePreferences::machinePreferencesFromUserDefaultsVersion1()->screenDisplayTransparency(), 1.0f);
}

// Every key by its stored spelling, with values no default has: read and written back, each comes out
// as it went in. Booleans run once all set and once all clear, so each differs from its default once.
TEST(MachinePreferences, EveryStoredKeyIsReadAndWrittenUnderItsOwnName)
{
    const QByteArray red = kt::readFile(
        kt::testDataPath("archives/terminal-profiles/Solarized_Dark_2011-03-22.redColour.typedstream"));
    ASSERT_FALSE(red.isEmpty());
    const char* const booleans[] = {
        "DontCheckForOutdatedSensorNames", "WindowsVertical", "StandardWindowUsesForegroundColor",
        "FloatingWindowVertical", "FloatingWindowUsesForegroundColor", "FloatingWindowHasShadow",
        "ScreenWindowIsBackdrop", "ScreenWindowIsFixed", "DockUsesTextDisplay", "DockTextUsesDefaultColors",
        "MenuBarShowsShortNames", "MenuBarUsesColor", "TalkInIntervals", "TalkOnCustomizedDelta",
        "TalkSensorNames", "AlertOpensPanel", "AlertPlaySound", "AlertUsesVoice", "AlertSendsGrowl",
        "AlertOpensObject",
    };
    const QVariantList one{fromString("TC0P")};
    const QVariantMap others{
        {"StandardWindowBackgroundColor", fromData(red)}, {"StandardWindowForegroundColor", fromData(red)},
        {"FloatingWindowForegroundColor", fromData(red)}, {"DockTextColor", fromData(red)},
        {"StandardWindowFontName", fromString("Stored Sans")}, {"FloatingWindowFontName", fromString("Stored Serif")},
        {"MenuBarFontName", fromString("Stored Mono")},
        {"StandardWindowFontSize", fromReal(17.5)}, {"FloatingWindwoFontSize", fromReal(33.25)},
        {"MenuBarFontSize", fromReal(9.5)}, {"StandardWindowFontRatio", fromReal(1.75)},
        {"FloatingWindowFontRatio", fromReal(2.25)}, {"FloatingWindowTransparency", fromReal(0.375)},
        {"TalkDeltaValue", fromReal(2.5)}, {"TalkIntervalMultiplier", fromUnsigned(13)},
        {"StandardWindowAlignment", fromSigned(2)}, {"ScreenWindowAlignment", fromSigned(1)},
        {"StandardWindowSensors", fromArray(one)}, {"FloatingWindowSensors", fromArray(one)},
        {"DockSensors", fromArray(one)}, {"MenuBarSensors", fromArray(one)}, {"TalkSensors", fromArray(one)},
        {"Triggers", fromArray(one)}, {"AlertObjectPath", fromString("/srv/alert.sh")},
        {"LocalProbes", fromArray({fromDictionary({{"ProbeKind", fromSigned(3)}})})},
        {"LCDModules", fromDictionary({{"USB-1", fromDictionary({{"Rows", fromSigned(4)}})}})},
    };
    for (const bool flag : {true, false}) {
        SCOPED_TRACE(flag ? "booleans set" : "booleans clear");
        QVariantMap stored = others;
        for (const char* name : booleans)
            stored.insert(QString::fromLatin1(name), fromBool(flag));
        const auto preferences = MachinePreferences::createWithDefaultsDictionary(stored);
        ASSERT_TRUE(preferences);
        const QVariantMap written = preferences->defaultsDictionary();
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            EXPECT_EQ(written.value(it.key()), it.value()) << it.key().toStdString();
    }
}

TEST(MachinePreferences, NaNStoredForANumberKeepsTheDefault)
{
    const auto defaults = MachinePreferences().defaultsDictionary();
    const QVariantMap stored{{"StandardWindowFontSize", fromReal(qQNaN())},
                             {"FloatingWindowTransparency", fromReal(qQNaN())},
                             {"TalkDeltaValue", fromReal(qQNaN())},
                             {"TalkIntervalMultiplier", fromReal(1e30)}};
    const auto preferences = MachinePreferences::createWithDefaultsDictionary(stored);
    ASSERT_TRUE(preferences);
    const QVariantMap written = preferences->defaultsDictionary();
    for (const char* name : {"StandardWindowFontSize", "FloatingWindowTransparency", "TalkDeltaValue"})
        EXPECT_EQ(written.value(name), defaults.value(name)) << name;
    EXPECT_EQ(preferences->talkIntervalMultiplier(), 20u); // too large for any integer, still capped
}

TEST(MachinePreferences, AReturningSensorKeepsItsOnePlaceInItsHistoryWindow)
{
    // Stored with both temperatures in one window; the gauge of one of them cannot be read back, so that
    // sensor is new to the set when it connects again.
    struct Row {
        const char* what;
        QStringList stored; // the window's list
        QString unreadable;
    } rows[] = {
        {"listed after a readable gauge", {QStringLiteral("t2"), QStringLiteral("t1")}, QStringLiteral("t1")},
        {"listed first", {QStringLiteral("t1"), QStringLiteral("t2")}, QStringLiteral("t1")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto source = std::make_shared<FakeSource>();
        source->add(QStringLiteral("t1"), 1);
        source->add(QStringLiteral("t2"), 1);
        MachinePreferences original;
        original.addNewSensorsWithUniversalIdentifiers({QStringLiteral("t1"), QStringLiteral("t2")}, source);
        original.historyWindowPreferences().first()->sensorIdentifierList() = row.stored;
        QVariantMap stored = original.defaultsDictionary();
        QVariantMap gauges = toDictionary(stored.value(QStringLiteral("AvailableGauges"))).value_or(QVariantMap());
        gauges.insert(row.unreadable, QStringLiteral("not a gauge"));
        stored.insert(QStringLiteral("AvailableGauges"), fromDictionary(gauges));

        const auto set = MachinePreferences::createWithDefaultsDictionary(stored);
        ASSERT_TRUE(set);
        ASSERT_FALSE(set->gaugeDictionary().contains(row.unreadable));
        set->addNewSensorsWithUniversalIdentifiers({QStringLiteral("t1"), QStringLiteral("t2")}, source);
        EXPECT_TRUE(set->gaugeDictionary().contains(row.unreadable));
        ASSERT_EQ(set->historyWindowPreferences().size(), 1);
        EXPECT_EQ(set->historyWindowPreferences().first()->sensorIdentifierList(), row.stored);
    }
}
