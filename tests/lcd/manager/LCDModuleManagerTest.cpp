// The LCD module manager with fake controllers and displays, a fixed idle source and the test clock: the
// saver, stored modules, hot-plug and looking again, the pane's selection and edits, and a Crystalfontz on
// a pseudo-terminal showing a sensor of the simulated portable.

#include "lcd/manager/LCDModuleManager.h"

#include "lcd/manager/TEVLCDOutputItem.h"
#include "lcd/TEVSerialPortDevice.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/IdleTimeSource.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/lcd/manager/LcdManagerTestSupport.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/XvfbDisplay.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTableView>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

namespace kt = kelvaro::test;
namespace v = platform::values;
using Manager = LCDModuleManager;

QVariantMap module(qint64 type, double saver, QVariantList items = {})
{
    return {{"DisplayType", v::fromSigned(type)}, {"ScreenSaver", saver}, {"OutputItems", items}};
}

QVariantMap textItem(const QString& text)
{
    return {{"ItemType", v::fromSigned(0)}, {"Association", text}};
}

class FakeLookups final : public ControllerLookups {
public:
    const QStringList& universalIdentifiersOfConnectedSensors() const override { return identifiers; }
    std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString& id) const override { return gauges.value(id); }
    QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime&, const QString&, bool) override { return {}; }
    double historyTimeDeltaForUniversalGaugeIdentifier(const QString&, bool) override { return 1; }
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const std::shared_ptr<MonitoringClient>&) const override { return {}; }
    std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const std::shared_ptr<MonitoringClient>&) override { return {}; }
    MonitorPreferences* monitorPreferences() const override { return nullptr; }
    QStringList identifiers;
    QMap<QString, std::shared_ptr<TEVGauge>> gauges;
};

class LCDModuleManagerTest : public ::testing::Test {
protected:
    void SetUp() override { platform::IdleTimeSource::setShared(idle); }
    void TearDown() override
    {
        manager.reset();
        platform::IdleTimeSource::setShared(nullptr);
    }
    Manager& make(const QVariantMap& preferences = {})
    {
        Manager::Hardware hardware;
        hardware.listControllers = [this] { return present; };
        hardware.makeDisplay = [this](const Manager::ControllerPtr& c) {
            ++displaysMade;
            return lcdtest::FakeDisplay::create(c, &logs[c->serialNumber()]);
        };
        hardware.physicalInterfaceNames = [] { return QStringList{QStringLiteral("eth0")}; };
        hardware.observeHotplug = false;
        manager = std::make_unique<Manager>(hardware);
        manager->setLCDModulePreferences(preferences);
        return *manager;
    }
    Manager::ControllerPtr controller(const QString& serial) { return std::make_shared<lcdtest::FakeController>(serial); }
    // A controller change of unknown class, then the rescan delay on the test clock.
    void hotplug(bool removal, double wait = Manager::RescanDelay)
    {
        platform::NotificationCenter::defaultCenter().post(
            TEVLCDController::changeNotification, nullptr,
            {{TEVLCDController::changeKindKey, v::fromUnsigned(removal ? TEVLCDController::ChangeRemoval : TEVLCDController::ChangeInsertion)}});
        advance(wait);
    }
    static void advance(double seconds)
    {
        kt::clock()->advanceSeconds(seconds);
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    // The entries a display logged since the last call.
    QStringList take(const QString& serial) { return std::exchange(logs[serial], {}); }
    QVariantMap stored(const QString& specifier) { return manager->lcdModulePreferences()->value(specifier).toMap(); }
    void select(int row) { manager->preferencePaneView()->findChild<QTableView*>("controllerTable")->selectRow(row); }
    template <typename T>
    T* outlet(const char* name) { return manager->preferencePaneView()->findChild<T*>(name); }

    std::shared_ptr<platform::FixedIdleTimeSource> idle = std::make_shared<platform::FixedIdleTimeSource>();
    Manager::ControllerList present;
    std::map<QString, QStringList> logs;
    int displaysMade = 0;
    std::unique_ptr<Manager> manager;
};

} // namespace

TEST_F(LCDModuleManagerTest, SaverBlanksAfterIdleTimeAndWakesOnTheFirstShorterReading)
{
    present = {controller("A"), controller("B")};
    make({{"Fake-A", module(0, 180, {textItem("Hi")})}, {"Fake-B", module(0, 0, {textItem("Ho")})}});
    take("A");
    take("B");
    struct Tick {
        std::optional<double> idleSeconds; // none: the platform cannot tell
        QStringList sentToA;
    } ticks[] = {
        {200, {"Hi"}},         // the first reading only records
        {std::nullopt, {"Hi"}}, // no reading: nothing changes, not even the stored one
        {190, {"Hi"}},         // shorter than 200: the user was active
        {250, {"off"}},        // past 180 s: blanked, and no text while asleep
        {260, {}},
        {std::nullopt, {}},    // still no word of the user: stays dark
        {0, {"on", "Hi"}},     // the user is active now (logind's "not idle"): woken, its text in the same tick
        {0, {"Hi"}},           // and stays lit while active
        {5, {"Hi"}},
        {200, {"off"}},
        {7, {"on", "Hi"}},     // woken by any shorter reading
    };
    for (const Tick& tick : ticks) {
        if (tick.idleSeconds)
            idle->setIdleSeconds(*tick.idleSeconds);
        else
            idle->setIdleNanoseconds(std::nullopt);
        manager->updateAllDisplaysUsingOutputCache({});
        EXPECT_EQ(take("A"), tick.sentToA) << tick.idleSeconds.value_or(-1);
        EXPECT_EQ(take("B"), QStringList{"Ho"}) << "a saver of 0 never blanks";
    }
}

TEST_F(LCDModuleManagerTest, AModuleBlankedByTheSaverLightsUpAtTheUsersInputOnX)
{
    kt::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    const auto source = platform::XScreenSaverIdleTimeSource::create(x.name());
    ASSERT_TRUE(source);
    present = {controller("A")};
    make({{"Fake-A", module(0, 180, {textItem("Hi")})}});
    take("A");
    // Nobody has typed for minutes (longer than a test may wait for the server to count).
    for (double seconds : {200.0, 250.0}) {
        idle->setIdleSeconds(seconds);
        manager->updateAllDisplaysUsingOutputCache({});
    }
    ASSERT_EQ(take("A"), (QStringList{"Hi", "off"}));

    // The user presses a key: the X server's idle time starts again from 0, and the module lights up.
    platform::IdleTimeSource::setShared(source);
    ASSERT_TRUE(x.simulateUserInput());
    ASSERT_TRUE(kt::waitFor([&] { return source->idleNanoseconds().value_or(0) > 0; }));
    manager->updateAllDisplaysUsingOutputCache({});
    EXPECT_EQ(take("A"), (QStringList{"on", "Hi"}));
    manager->updateAllDisplaysUsingOutputCache({});
    EXPECT_EQ(take("A"), QStringList{"Hi"}) << "and stays lit while the idle time grows from there";
    platform::IdleTimeSource::setShared(idle); // before the server goes
}

TEST_F(LCDModuleManagerTest, StoredModulesLoadClampedAndSurviveWhileTheirControllerIsAbsent)
{
    Manager::Hardware none;
    none.listControllers = [] { return Manager::ControllerList(); };
    none.observeHotplug = false;
    EXPECT_FALSE(Manager(none).lcdModulePreferences()) << "nothing to write back before the stored modules arrive";

    present = {controller("A")};
    QVariantMap a = module(3, 20000, {textItem("Hi"), textItem("")});
    a.insert("LCDIsSleeping", true);
    a.insert("HardwareSettings", QVariantMap{{"Brightness", 20.0}, {"Contrast", 70.0}});
    a.insert("Extra", "kept");
    QVariantMap noSaver = module(1, 0);
    noSaver.remove("ScreenSaver");
    noSaver.remove("OutputItems");
    const QVariantMap preferences{{"Fake-A", a}, {"Serial-gone", module(0, -5)}, {"Fake-C", module(0, 100)},
                                  {"Fake-D", noSaver}};
    make(preferences);
    ASSERT_TRUE(manager->displayForSpecifier("Fake-A"));
    EXPECT_EQ(manager->displayForSpecifier("Fake-A")->displayType(), 3);
    EXPECT_EQ(take("A"), (QStringList{"on", "hw 20 70"}));
    for (const auto& [specifier, saver] : std::vector<std::pair<QString, double>>{
             {"Fake-A", 10799}, {"Serial-gone", 0}, {"Fake-C", 180}, {"Fake-D", 0}}) {
        EXPECT_EQ(manager->descriptionForSpecifier(specifier)->values.value("ScreenSaver"), saver) << specifier.toStdString();
        EXPECT_EQ(manager->descriptionForSpecifier(specifier)->values.value("LCDIsSleeping"), false);
    }

    present = {};
    hotplug(true);
    present = {controller("A")};
    hotplug(false);
    QVariantMap expected = a;
    expected.remove("LCDIsSleeping");
    expected.insert("ScreenSaver", 10799.0);
    const auto entry = [](const QVariantMap& m) { return QVariant(TEVLCDOutputItem::createWithPreferenceEntry(m)->preferenceEntry()); };
    expected.insert("OutputItems", QVariantList{entry(textItem("Hi")), entry(textItem(""))});
    EXPECT_EQ(stored("Fake-A"), expected);
    EXPECT_EQ(stored("Serial-gone"), module(0, 0)) << "the module of an absent controller is written back";
    EXPECT_EQ(stored("Fake-D").value("OutputItems"), QVariantList());
    EXPECT_EQ(take("A"), (QStringList{"released", "on", "hw 20 70"})) << "re-plugged with its settings";
}

TEST_F(LCDModuleManagerTest, RescanKeepsRunningModulesAndReopensARePluggedController)
{
    const auto a = controller("A");
    present = {a};
    make({{"Fake-A", module(0, 0, {textItem("Hi")})}});
    take("A");

    present = {a, controller("B")};
    hotplug(false, 0.9);
    EXPECT_EQ(manager->lcdControllers().size(), 1u) << "the rescan waits a second";
    advance(0.1);
    EXPECT_EQ(manager->lcdControllers().size(), 2u);
    EXPECT_EQ(displaysMade, 1) << "an unrelated arrival leaves the running module alone";
    EXPECT_EQ(take("A"), QStringList{"hw 50 50"});

    // Out and in again within the delay: the equal controller found is a new device, reopened.
    const auto again = controller("A");
    present = {controller("B")};
    hotplug(true, 0.4);
    present = {again, controller("B")};
    hotplug(false, 1.0);
    EXPECT_EQ(manager->lcdControllers().front(), again);
    EXPECT_EQ(manager->displayForSpecifier("Fake-A")->controllerDevice(), again);
    EXPECT_EQ(displaysMade, 2);
    EXPECT_EQ(take("A"), (QStringList{"released", "on", "hw 50 50", "hw 50 50"}));
}

TEST_F(LCDModuleManagerTest, ChoosingADisplayTypeKeepsOrReplacesTheModule)
{
    present = {controller("A")};
    QVariantMap a = module(3, 300, {textItem("Hi")});
    a.insert("HardwareSettings", QVariantMap{{"Brightness", 20.0}});
    make({{"Fake-A", a}});
    select(0);
    auto* popUp = outlet<QComboBox>("displayTypePopUp");
    EXPECT_EQ(popUp->currentIndex(), 4);

    popUp->setCurrentIndex(4);
    manager->selectDisplayType();
    EXPECT_EQ(manager->selectedList()->size(), 1) << "the type already chosen keeps the layout";
    EXPECT_EQ(stored("Fake-A").value("ScreenSaver"), 300.0);

    popUp->setCurrentIndex(2);
    manager->selectDisplayType();
    EXPECT_EQ(manager->displayForSpecifier("Fake-A")->displayType(), 1);
    EXPECT_EQ(stored("Fake-A"), (QVariantMap{{"DisplayType", v::fromSigned(1)}, {"OutputItems", QVariantList()}}));

    popUp->setCurrentIndex(0);
    manager->selectDisplayType();
    EXPECT_FALSE(manager->displayForSpecifier("Fake-A"));
    EXPECT_TRUE(manager->lcdModulePreferences()->isEmpty());
    EXPECT_FALSE(outlet<QWidget>("testButton")->isEnabled());

    popUp->setCurrentIndex(1);
    manager->selectDisplayType();
    EXPECT_EQ(manager->selectedList()->size(), 0);
    EXPECT_TRUE(outlet<QWidget>("testButton")->isEnabled());
    EXPECT_EQ(displaysMade, 2);
}

TEST_F(LCDModuleManagerTest, PaneEditsTheSelectedItem)
{
    kt::ScopedDesktopFakes desktop;
    present = {controller("A")};
    const QVariantMap sensor{{"ItemType", v::fromSigned(9)}, {"Association", "S1"}, {"MaxLength", 6}, {"Precision", 1}};
    make({{"Fake-A", module(0, 0, {textItem("Hi"), sensor, QVariantMap{{"ItemType", 1}}})}});
    select(0);
    auto* target = outlet<QTableView>("elementTargetTable");
    auto* options = outlet<QStackedWidget>("elementOptionsBox");
    const auto item = [&](int row) { return platform::objectAs<TEVLCDOutputItem>(v::toObject(manager->selectedList()->at(row))); };

    target->selectRow(0);
    EXPECT_EQ(options->currentWidget()->objectName(), "textBox");
    EXPECT_EQ(outlet<QLineEdit>("textField")->text(), "Hi");

    target->selectRow(1);
    EXPECT_EQ(options->currentWidget()->objectName(), "sensorBox");
    EXPECT_TRUE(outlet<QCheckBox>("unitSwitch")->isChecked());
    outlet<QCheckBox>("unitSwitch")->setChecked(false);
    manager->changeElementOption();
    EXPECT_FALSE(item(1)->shouldDisplayUnit()) << "the switch turns the unit off";
    outlet<QCheckBox>("unitSwitch")->setChecked(true);
    manager->changeElementOption();
    EXPECT_TRUE(item(1)->shouldDisplayUnit());
    outlet<QSpinBox>("precisionField")->setValue(-2);
    EXPECT_EQ(item(1)->valuePrecision(), 0);
    outlet<QSpinBox>("precisionField")->setValue(7);
    EXPECT_EQ(item(1)->maximumFieldLength(), 8);
    EXPECT_EQ(outlet<QSpinBox>("fieldLengthField")->value(), 8);
    EXPECT_EQ(desktop.alerts->beeps, 2);

    target->selectRow(2);
    EXPECT_EQ(options->currentWidget()->objectName(), "emptyBox");
    manager->deleteElement();
    EXPECT_EQ(manager->selectedList()->size(), 2);
    EXPECT_FALSE(outlet<QWidget>("elementDeleteButton")->isEnabled());
}

TEST_F(LCDModuleManagerTest, OffersItemsPerSensorAndShowsTestPatterns)
{
    FakeLookups lookups;
    lcdtest::Gauge load(9, "%"), fan(6, "RPM");
    lookups.identifiers = {"load", "fan", "gone"};
    lookups.gauges = {{"load", load.gauge}, {"fan", fan.gauge}};
    present = {controller("A")};
    make({{"Fake-A", module(0, 0, {textItem("Hi")})}});
    manager->setApplicationController(&lookups);
    manager->rebuildListOfAvailableOutputItems();
    QStringList offered;
    for (const QVariant& element : manager->availableOutputItems())
        offered << manager->localizedPresentationForLCDOutputItem(*platform::objectAs<TEVLCDOutputItem>(v::toObject(element)));
    EXPECT_EQ(offered.mid(7), (QStringList{"OS Build", "IPv4 Address: eth0", "Sensor Value: Fan", "Sensor Value: Fan",
                                           "Sensor Value: - disconnected - ", "Sensor Bar Graph: Fan"}));

    EXPECT_EQ(Manager::testPatternText(1, *present[0], 2, 8), "01: 456702: 4567");
    select(0);
    // A bar graph dragged into the module's list arrives as a copy of its own.
    auto* source = outlet<TEVDragTableView>("elementSourceTable");
    QMimeData drag;
    ASSERT_TRUE(source->writeRows({12}, manager->availableOutputItems(), &drag));
    ASSERT_TRUE(outlet<TEVDragTableView>("elementTargetTable")->acceptDrop({&drag, source}, manager->selectedList(), 0,
                                                                            TEVDragTableView::DropPosition::Above));
    EXPECT_EQ(stored("Fake-A").value("OutputItems").toList().value(0).toMap().value("ItemType"), v::fromSigned(10));
    outlet<QTableView>("elementTargetTable")->selectRow(0);
    manager->deleteElement();
    take("A");
    manager->enterTestMode();
    manager->updateAllDisplaysUsingOutputCache({});
    const QStringList sent = take("A");
    ASSERT_EQ(sent.size(), 1) << "a display in a sheet gets no output";
    EXPECT_TRUE(sent[0].startsWith("S/N A - UndefinedDevice\nKelvaro ")) << sent[0].toStdString();
    manager->closeTestSheet();
    manager->updateAllDisplaysUsingOutputCache({});
    EXPECT_EQ(take("A"), (QStringList{"", "Hi"}));
}

TEST_F(LCDModuleManagerTest, CrystalfontzOnAPseudoTerminalShowsAPortableSensorAndBlanksWhenIdle)
{
    const auto portable = platform::SimulatedComputer::load(kt::sourcePath("fixtures/computers/portable"));
    ASSERT_TRUE(portable.computer);
    platform::SimulatedComputer::setCurrent(portable.computer);
    TEVSensorClassLoader::loadAll();
    // The portable's sensors answered directly, as the local client's cache would.
    struct Source final : TEVSensorSource {
        TEVSensorList sensors = TEVSensor::allSensors();
        std::shared_ptr<TEVSensor> find(const QString& id) const
        {
            for (const auto& s : sensors)
                if (s->uniqueIdentifier() == id)
                    return s;
            return nullptr;
        }
        QString clientIdentification() const override { return "portable"; }
        QString machineSerialNumber() override { return "C02M51K3FH00"; }
        QString machineName() override { return "portable"; }
        std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& id) override { return find(id)->configurationDescription(); }
        std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& id) override { return find(id)->valueConverter(); }
        qint64 cachedRawValueWithIdentifier(const QString& id) override { return find(id)->rawValue(); }
        void disableLocalAccess(bool, const QString&) override {}
    };
    auto source = std::make_shared<Source>();
    const auto fan = std::find_if(source->sensors.begin(), source->sensors.end(),
                                  [](const auto& s) { return s->uniqueIdentifier().startsWith("smc.fan.") && s->rawValue() > 0; });
    ASSERT_NE(fan, source->sensors.end());
    const auto gauge = TEVGauge::createForSensorIdentifierConnectingToClient((*fan)->uniqueIdentifier(), source);
    ASSERT_TRUE(gauge);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int keepOpen = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    const auto read = [master] {
        QByteArray bytes;
        char buffer[256];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, n);
        return bytes;
    };
    const auto port = TEVSerialPortDevice::createWithIORegistryEntry(
        platform::SerialPortEntry{"pts", "pts", QString::fromLatin1(::ptsname(master))});
    Manager::Hardware hardware;
    hardware.listControllers = [port] { return Manager::ControllerList{port}; };
    hardware.physicalInterfaceNames = [] { return QStringList(); };
    hardware.observeHotplug = false;
    manager = std::make_unique<Manager>(hardware);
    const QVariantMap item{{"ItemType", v::fromSigned(9)}, {"Association", gauge->sensorIdentifier()},
                           {"MaxLength", 8}, {"DisplaysUnit", false}};
    manager->setLCDModulePreferences({{"Serial-pts", module(0, 180, {textItem("Fan"), QVariantMap{{"ItemType", 1}}, item})}});
    kt::clock()->advance(TEVSerialPortDevice::SettleTime);
    ASSERT_TRUE(kt::waitFor([&] { return !port->isSettling(); }));
    read(); // the module's set-up

    // Each tick as the controller runs it: the cache refilled, then the modules fed.
    const auto tick = [&](double idleSeconds) {
        idle->setIdleSeconds(idleSeconds);
        ControllerLookups::OutputCache cache{{gauge->sensorIdentifier(), std::make_shared<OutputCacheEntry>()}};
        cache.first()->cacheCurrentValueFromGauge(gauge);
        manager->updateAllDisplaysUsingOutputCache(cache);
        return read();
    };
    const QByteArray frame = "\x01" "Fan     " + QString::asprintf("%8.0f", gauge->presentationValue()).toLatin1();
    EXPECT_EQ(tick(1), frame);
    EXPECT_EQ(tick(2), frame);
    EXPECT_EQ(tick(181), "\x01" + QByteArray(16, ' ')) << "blanked after 180 s without input";
    EXPECT_EQ(tick(190), QByteArray());
    EXPECT_EQ(tick(3), frame);

    manager.reset();
    ::close(keepOpen);
    ::close(master);
    platform::SimulatedComputer::setCurrent(nullptr);
}

TEST_F(LCDModuleManagerTest, ThePaneShowsARunningModuleAndLooksForControllersAgainOnRequest)
{
    const auto shown = [this] {
        auto* table = outlet<QTableView>("controllerTable");
        const QModelIndexList rows = table->selectionModel()->selectedRows();
        return std::pair(rows.size() == 1 ? rows.first().row() : -1, outlet<QComboBox>("displayTypePopUp")->currentText());
    };
    const struct { const char* what; QStringList present; QVariantMap modules; int row; qint64 type; } rows[] = {
        {"one running module", {"A"}, {{"Fake-A", module(4, 0)}}, 0, 4},
        {"the running module below one without", {"A", "B"}, {{"Fake-B", module(6, 0)}}, 1, 6},
        {"no module configured", {"A", "B"}, {}, 0, -1},
        {"no controller", {}, {{"Fake-A", module(4, 0)}}, -1, -1},
    };
    for (const auto& row : rows) {
        present.clear();
        for (const QString& serial : row.present)
            present.push_back(controller(serial));
        make(row.modules);
        const auto [selected, type] = shown();
        EXPECT_EQ(selected, row.row) << row.what;
        if (row.row >= 0) {
            EXPECT_EQ(type, Manager::labelForDisplayType(row.type)) << row.what;
        }
        manager.reset();
    }

    // Plugged in where no hot-plug event comes: found once the user looks again.
    present.clear();
    displaysMade = 0;
    make({{"Fake-A", module(4, 0, {textItem("Hi")})}});
    auto* lookAgain = outlet<QPushButton>("lookAgainButton");
    ASSERT_TRUE(lookAgain);
    EXPECT_TRUE(lookAgain->isEnabled());
    present = {controller("A")};
    advance(Manager::RescanDelay * 2);
    EXPECT_TRUE(manager->lcdControllers().empty()) << "nothing looks by itself";
    lookAgain->click();
    ASSERT_EQ(manager->lcdControllers().size(), 1u);
    EXPECT_EQ(displaysMade, 1);
    EXPECT_EQ(shown(), std::pair(0, Manager::labelForDisplayType(4)));
    // Looking again while it runs keeps its display.
    lookAgain->click();
    EXPECT_EQ(displaysMade, 1);
    EXPECT_EQ(shown(), std::pair(0, Manager::labelForDisplayType(4)));
}
