// The five information windows: the edge cases of each on scripted computers, and each filled from the
// simulated portable, tower and server, locally and through the loopback remote agent.

#include "windows/info/DisplayInfoDisplay.h"
#include "windows/info/DriveOverview.h"
#include "windows/info/SMBIOSSheetController.h"
#include "windows/info/SensorOverview.h"
#include "windows/info/SmartBatteryInfoDisplay.h"
#include "windows/info/SystemInfoDisplay.h"

#include "acquisition/TEVRemoteKelvaroClient.h"
#include "app/model/ControllerLookups.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "sensors/SensorLimitsManager.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/app/controller/FakeMonitoringClient.h"
#include "tests/support/ProtocolTestPeer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"
#include "tests/windows/info/CoreBackedClient.h"
#include "tests/windows/info/ScriptedInfoClient.h"

#include "ui_DisplayInfo.h"
#include "ui_SmartBatteryInfo.h"
#include "ui_SystemInfo.h"

#include <QDialog>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
namespace values = platform::values;
using kt::ScriptedInfoClient;

namespace {

QString number(double v, int precision) { return QLocale().toString(v, 'f', precision); }

// The look-ups the sensor overview asks: a fixed gauge list and limits.
class Lookups final : public ControllerLookups {
public:
    QList<std::shared_ptr<TEVGauge>> gauges;
    std::optional<QVariantMap> limits;
    const QStringList& universalIdentifiersOfConnectedSensors() const override { return none_; }
    std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString&) const override { return nullptr; }
    QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime&, const QString&, bool) override { return {}; }
    double historyTimeDeltaForUniversalGaugeIdentifier(const QString&, bool) override { return 1.0; }
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const std::shared_ptr<MonitoringClient>&) const override
    {
        return gauges;
    }
    std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const std::shared_ptr<MonitoringClient>&) override
    {
        return limits;
    }
    MonitorPreferences* monitorPreferences() const override { return nullptr; }

private:
    QStringList none_;
};

QVariantMap battery(const QVariantList& cells, double total = 4000, double maximum = 5000)
{
    return {{"BatteryDevice", "bq20z451"},
            {"SerialNumber", "D865033Y2CXF9CPAW"},
            {"Manufacturer", "SMP"},
            {"Voltage", 12.3456},
            {"Amperage", -1.5},
            {"BatteryTemperature", 30.2},
            {"CurrentCapacity", 3000.0},
            {"TotalCapacity", total},
            {"MaximumCapacity", maximum},
            {"ChargeCycles", values::fromUnsigned(321)},
            {"BatteryStatus", values::fromUnsigned(0b10001)}, // charger connected, not charging, reserve
            {"CellVoltages", cells}};
}

} // namespace

TEST(SensorOverview, LimitTextsAndTheDetailsLine)
{
    auto source = std::make_shared<kt::FakeMonitoringClient>(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")));
    source->becomeReady();
    const auto temperature = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("TC0D"), source);
    const auto fan = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("F0Ac"), source);
    ASSERT_TRUE(temperature && fan);

    const QVariant oneElement = QVariantList{6200.0};
    EXPECT_EQ(SensorOverview::limitsPresentationForEntry(oneElement, fan, false), fan->localizedPresentationOfPresentationValue(6200));
    EXPECT_EQ(SensorOverview::limitsPresentationForEntry(oneElement, fan, true), QString());
    EXPECT_EQ(SensorOverview::limitsPresentationForEntry(QVariantList{6200.0, 1200.0}, fan, true),
              fan->localizedPresentationOfPresentationValue(1200));
    for (const QVariant& nothing : {QVariant(), QVariant(QVariantList()), QVariant(QStringLiteral("100"))})
        EXPECT_EQ(SensorOverview::limitsPresentationForEntry(nothing, fan, false), QString());
    EXPECT_EQ(SensorOverview::limitsPresentationForEntry(oneElement, nullptr, false), QString());

    struct Unit {
        qint64 code;
        double presented;
    };
    const qint64 saved = TEVGauge::preferredTemperatureDisplayUnit();
    for (const Unit unit : {Unit{0, 100}, Unit{1, 212}, Unit{2, 373.15}, Unit{3, 100}, Unit{4, 212}}) {
        TEVGauge::setPreferredTemperatureDisplayUnit(unit.code);
        EXPECT_EQ(SensorOverview::limitsPresentationForEntry(QVariantList{100.0}, temperature, false),
                  temperature->localizedPresentationOfPresentationValue(unit.presented))
            << "unit " << unit.code;
        // Fans are not converted.
        EXPECT_EQ(SensorOverview::limitsPresentationForEntry(QVariantList{100.0}, fan, false),
                  fan->localizedPresentationOfPresentationValue(100));
    }
    TEVGauge::setPreferredTemperatureDisplayUnit(saved);

    EXPECT_EQ(SensorOverview::limitsLine(QStringLiteral("1"), QStringLiteral("9")), QStringLiteral("1 ..9"));
    EXPECT_EQ(SensorOverview::limitsLine(QStringLiteral("1"), QString()), QStringLiteral(">1"));
    EXPECT_EQ(SensorOverview::limitsLine(QString(), QStringLiteral("9")), QStringLiteral("<9"));
    EXPECT_EQ(SensorOverview::limitsLine(QString(), QString()), QStringLiteral("not applicable or unknown"));

    // In the window: rows from the controller, limits by unified location, details of the selected row.
    Lookups lookups;
    lookups.gauges = {temperature, fan};
    lookups.limits = QVariantMap{
        {SensorLimitsManager::unifiedSensorLocationForSensorDescription(fan->sensorDescription().get()), oneElement}};
    SensorOverview overview(source, QStringLiteral("Sensor Overview"));
    EXPECT_EQ(overview.numberOfRows(), 0);
    overview.setApplicationController(&lookups);
    overview.openWindow();
    ASSERT_EQ(overview.numberOfRows(), 2);
    EXPECT_EQ(overview.sensorTable()->rowCount(), 2);
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("Location"), 1), fan->localizedLocation());
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("Value"), 1), fan->localizedValue());
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("Maximum"), 1), fan->localizedPresentationOfPresentationValue(6200));
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("Minimum"), 1), QString());
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("Maximum"), 0), QString()) << "no entry for it";
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("Other"), 0), QString());

    overview.selectSensor(5);
    EXPECT_FALSE(overview.sensorInfoPanel()->isVisible());
    overview.selectSensor(1);
    EXPECT_TRUE(overview.sensorInfoPanel()->isVisible());
    EXPECT_EQ(overview.sensorInfoField(0)->text(), fan->localizedLocation());
    EXPECT_EQ(overview.sensorInfoField(1)->text(), QStringLiteral("Fake computer"));
    EXPECT_EQ(overview.sensorInfoField(8)->text(), QLatin1Char('<') + fan->localizedPresentationOfPresentationValue(6200));
    overview.selectSensor(0);
    EXPECT_EQ(overview.sensorInfoField(8)->text(), QStringLiteral("not applicable or unknown"));

    lookups.gauges.clear();
    overview.updateContents();
    EXPECT_EQ(overview.sensorTable()->rowCount(), 0);
}

// The details panel follows its sensor tick after tick, opens beside its overview, goes with it, and
// answers the keys a window with the menu bar would.
TEST(SensorOverview, TheDetailsPanelFollowsItsSensorAndItsOverview)
{
    auto source = std::make_shared<kt::FakeMonitoringClient>(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")));
    source->becomeReady();
    const auto temperature = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("TC0D"), source);
    ASSERT_TRUE(temperature);
    Lookups lookups;
    lookups.gauges = {temperature};
    // The overview's menu bar has its own Ctrl+W and Ctrl+Q.
    platform::ApplicationMenuBar::setMaker([](QWidget* owner) {
        auto* bar = new QMenuBar(owner);
        QMenu* file = bar->addMenu(QStringLiteral("File"));
        file->addAction(QStringLiteral("Close Window"), QKeySequence(Qt::CTRL | Qt::Key_W), owner, [owner] { owner->close(); });
        file->addAction(QStringLiteral("Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q), owner, [] { platform::PanelKeys::quit(); });
        return bar;
    });
    SensorOverview overview(source, QStringLiteral("Sensor Overview"));
    platform::ApplicationMenuBar::setMaker({});
    overview.setApplicationController(&lookups);
    QWidget* window = overview.window();
    window->setGeometry(20, 20, 300, 200);
    int quits = 0;
    platform::PanelKeys::setQuitHandler([&quits] { ++quits; });
    const auto restore = qScopeGuard([] { platform::PanelKeys::setQuitHandler({}); });

    const QKeySequence keys[] = {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::CTRL | Qt::Key_Q)};
    for (const QKeySequence& key : keys) {
        SCOPED_TRACE(key.toString().toStdString());
        source->raw[QStringLiteral("TC0D")] = 3000; // 30 °C
        overview.openWindow();
        overview.selectSensor(0);
        QWidget* panel = overview.sensorInfoPanel();
        ASSERT_TRUE(panel->isVisible());
        EXPECT_FALSE(panel->frameGeometry().intersects(window->frameGeometry())) << "beside, not over it";
        EXPECT_LE(std::abs(panel->frameGeometry().left() - window->frameGeometry().right()), 20);
        const QString before = overview.sensorInfoField(7)->text();
        source->raw[QStringLiteral("TC0D")] = 3100;
        overview.updateContents();
        EXPECT_NE(overview.sensorInfoField(7)->text(), before);
        EXPECT_EQ(overview.sensorInfoField(7)->text(), temperature->localizedValue());
        EXPECT_EQ(overview.sensorInfoField(7)->text(), overview.objectValueForTableColumn(QStringLiteral("Value"), 0));

        panel->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
        const QKeyCombination combination = key[0];
        QTest::keyClick(panel, combination.key(), combination.keyboardModifiers());
        if (combination.key() == Qt::Key_Q) {
            EXPECT_EQ(quits, 1);
            // Closed with its overview.
            overview.closeWindow();
        }
        EXPECT_FALSE(panel->isVisible());
    }
}

TEST(SmartBatteryInfoDisplay, FillsTheFirstBatteryAndItsCells)
{
    auto client = std::make_shared<ScriptedInfoClient>();
    client->battery = battery({3.9876, 4.0});
    SmartBatteryInfoDisplay display(client, QStringLiteral("Battery Information"));
    display.openWindow();
    const auto& ui = display.ui();
    EXPECT_EQ(ui.headlineField->text(), QStringLiteral("Smart Battery Unit"));
    EXPECT_EQ(ui.batteryNameField->text(), QStringLiteral("bq20z451"));
    EXPECT_EQ(ui.voltageField->text(), number(12.3456, 3) + QStringLiteral(" V"));
    EXPECT_EQ(ui.currentField->text(), number(-1.5, 3) + QStringLiteral(" A"));
    EXPECT_EQ(ui.currentCapacityField->text(), number(3000, 0) + QStringLiteral(" mAh"));
    EXPECT_EQ(ui.capacityPercentageField->text(), QStringLiteral(" 75 %"));
    EXPECT_EQ(ui.capacityLevelIndicator->value(), 75);
    EXPECT_EQ(ui.capacityHealthPercentageField->text(), QStringLiteral(" 80 %"));
    EXPECT_EQ(ui.capacityHealthLevelIndicator->value(), 80);
    EXPECT_EQ(ui.chargerConnectedStatusField->text(), QStringLiteral("Yes"));
    EXPECT_EQ(ui.chargingStatusField->text(), QStringLiteral("No"));
    EXPECT_EQ(ui.reserveStatusField->text(), QStringLiteral("Yes"));
    EXPECT_EQ(ui.chargeCyclesField->text(), QStringLiteral("321"));
    EXPECT_EQ(ui.manufacturingDateField->text(), QString()) << "a missing value is an empty field";
    // Two cells: 1 and 2 shown, 3 and 4 hidden with their labels.
    EXPECT_EQ(ui.cell1VoltageLabel->text(), QStringLiteral("Cell 1:"));
    EXPECT_EQ(ui.cell1VoltageIndicator->value(), 3987);
    EXPECT_EQ(ui.cell2VoltageField->text(), number(4.0, 3) + QStringLiteral(" V"));
    for (QWidget* shown : {static_cast<QWidget*>(ui.cell1VoltageIndicator), static_cast<QWidget*>(ui.cell2VoltageLabel),
                           static_cast<QWidget*>(ui.cell2VoltageIndicator), static_cast<QWidget*>(ui.cell2VoltageField)})
        EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
    for (QWidget* hidden : {static_cast<QWidget*>(ui.cell3VoltageLabel), static_cast<QWidget*>(ui.cell3VoltageIndicator),
                            static_cast<QWidget*>(ui.cell3VoltageField), static_cast<QWidget*>(ui.cell4VoltageLabel),
                            static_cast<QWidget*>(ui.cell4VoltageIndicator), static_cast<QWidget*>(ui.cell4VoltageField)})
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();

    // No design capacity: no health; no cells: cell 1 "not available".
    client->battery = battery({}, 4000, 0);
    display.updateContents();
    EXPECT_EQ(ui.capacityHealthPercentageField->text(), QString());
    EXPECT_EQ(ui.capacityHealthLevelIndicator->value(), 0);
    EXPECT_EQ(ui.cell1VoltageLabel->text(), QStringLiteral("not available"));
    EXPECT_FALSE(ui.cell1VoltageIndicator->isVisible());
    EXPECT_FALSE(ui.cell2VoltageLabel->isVisible());
    client->battery = battery({}, 0, 0);
    display.updateContents();
    EXPECT_EQ(ui.capacityPercentageField->text(), QString());
    EXPECT_EQ(ui.capacityLevelIndicator->value(), 0);

    // The battery goes: the headline says so, the cell-1 indicator stays shown at 0.
    client->battery.reset();
    display.updateContents();
    EXPECT_EQ(ui.headlineField->text(), QStringLiteral("No battery available"));
    EXPECT_EQ(ui.voltageField->text(), QString());
    EXPECT_EQ(ui.cell1VoltageLabel->text(), QString());
    EXPECT_TRUE(ui.cell1VoltageIndicator->isVisible());
    EXPECT_EQ(ui.cell1VoltageIndicator->value(), 0);
    EXPECT_FALSE(ui.cell4VoltageField->isVisible());

    EXPECT_TRUE(SmartBatteryInfoDisplay::localizedStringForBatteryStatus(std::nullopt, 0).isNull());
}

TEST(SmartBatteryInfoDisplay, PrintfFormatsInTheUsersLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(SmartBatteryInfoDisplay::localizedNumberFormat(QStringLiteral("%03.3f V"), 12.3456), QStringLiteral("12,346 V"));
    EXPECT_EQ(SmartBatteryInfoDisplay::localizedNumberFormat(QStringLiteral("%4.f mAh"), 57.4), QStringLiteral("  57 mAh"));
    EXPECT_EQ(SmartBatteryInfoDisplay::localizedNumberFormat(QStringLiteral("%3.f %%"), 99.6), QStringLiteral("100 %"));
    EXPECT_EQ(SmartBatteryInfoDisplay::localizedNumberFormat(QStringLiteral("%4.f mAh"), 12345), QStringLiteral("12.345 mAh"));
    QLocale::setDefault(saved);
}

TEST(DisplayInfoDisplay, BrowsesTheDisplaysAndNamesEach)
{
    auto client = std::make_shared<ScriptedInfoClient>();
    const QDateTime week = QDateTime(QDate(2019, 3, 3), QTime(0, 0), Qt::UTC);
    client->displays = {
        QVariantMap{{"ManufacturerIDCode", values::fromUnsigned(0x0610)}, {"ManufacturerID", "APP"},
                    {"ProductID", values::fromUnsigned(0xA02E)}, {"ProductName", ""}, {"ProductNameFromOS", "Color LCD"},
                    {"AdditionalComment", "LP154WT1-SJE1"}, {"ModelDate", values::fromDate(QDateTime(QDate(2014, 1, 1), QTime(12, 0), Qt::UTC))},
                    {"SerialNumber", ""}},
        QVariantMap{{"ManufacturerIDCode", values::fromUnsigned(0x10AC)}, {"ManufacturerID", "DEL"},
                    {"ProductID", values::fromUnsigned(0xD0C2)}, {"ManufacturingDate", values::fromDate(week)},
                    {"SerialNumber", "CN0ABC"}},
    };
    DisplayInfoDisplay display(client, QStringLiteral("Display Information"));
    display.openWindow();
    const auto& ui = display.ui();
    EXPECT_EQ(display.numberOfBrowsableUnits(), 2u);
    EXPECT_EQ(ui.headlineField->text(), QStringLiteral("Display 1"));
    EXPECT_EQ(ui.manufacturerField->text(), QStringLiteral("610 ('APP')"));
    EXPECT_EQ(ui.productIDField->text(), QStringLiteral("a02e"));
    EXPECT_EQ(ui.productNameField->text(), QStringLiteral("Color LCD"));
    EXPECT_EQ(ui.additionalInfoField->text(), QStringLiteral("LP154WT1-SJE1"));
    EXPECT_EQ(ui.dateLabel->text(), QStringLiteral("Model Year:"));
    EXPECT_EQ(ui.dateField->text(), QStringLiteral("2014"));

    display.browseUnits(1);
    EXPECT_EQ(display.visibleUnitIndex(), 1u);
    EXPECT_EQ(ui.headlineField->text(), QStringLiteral("Display 2"));
    EXPECT_EQ(ui.productNameField->text(), QStringLiteral("unknown"));
    EXPECT_EQ(ui.dateLabel->text(), QStringLiteral("Manufacturing Date:"));
    EXPECT_EQ(ui.dateField->text(), QStringLiteral("Week of ") + TEVTimeUtilities::localizedDayRepresentationForDate(week));
    EXPECT_EQ(ui.serialNumberField->text(), QStringLiteral("CN0ABC"));
    display.browseUnits(1); // "next" from the last stays there
    EXPECT_EQ(display.visibleUnitIndex(), 1u);
    display.browseUnits(0);
    EXPECT_EQ(display.visibleUnitIndex(), 0u);
    display.browseUnits(0); // "previous" from the first wraps to the last
    EXPECT_EQ(display.visibleUnitIndex(), 1u);

    // One display left: the index starts over.
    client->displays.removeFirst();
    display.updateContents();
    EXPECT_EQ(display.visibleUnitIndex(), 0u);
    EXPECT_EQ(ui.headlineField->text(), QStringLiteral("Display 1"));
    client->displays.clear();
    display.updateContents();
    EXPECT_EQ(ui.headlineField->text(), QStringLiteral("No display connected"));
    EXPECT_EQ(ui.manufacturerField->text(), QString());
    EXPECT_EQ(ui.dateLabel->text(), QString());
}

TEST(DriveOverview, SMARTTextsAndColumns)
{
    struct Case {
        qint64 status;
        bool support;
        QString expected;
    };
    const Case cases[] = {{0, true, QStringLiteral("unknown")},   {1, true, QStringLiteral("failing")},
                          {2, true, QStringLiteral("verified")},  {3, true, QString()},
                          {2, false, QStringLiteral("not available")}, {-1, false, QStringLiteral("not available")}};
    for (const Case& c : cases)
        EXPECT_EQ(DriveOverview::localizedDescriptionOfSMARTStatus(c.status, c.support), c.expected) << c.status << c.support;

    auto client = std::make_shared<ScriptedInfoClient>();
    client->drives = {QVariantMap{{"VendorAndProduct", "APPLE SSD SM0256F"}, {"InterconnectProtocol", "SATA"},
                                  {"SMARTSerialNumber", "S1K4NYAF"}, {"SupportsSMART", true}, {"SMARTStatus", values::fromSigned(2)}},
                      QVariantMap{{"VendorAndProduct", "USB Stick"}, {"InterconnectProtocol", "USB"},
                                  {"SupportsSMART", false}, {"SMARTStatus", values::fromSigned(2)}}};
    DriveOverview overview(client, QStringLiteral("Drive Overview"));
    overview.openWindow();
    ASSERT_EQ(overview.numberOfRows(), 2);
    EXPECT_EQ(overview.driveTable()->rowCount(), 2);
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("Drive"), 0), QStringLiteral("APPLE SSD SM0256F"));
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("SMARTSupport"), 0), QStringLiteral("yes"));
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("SMARTStatus"), 0), QStringLiteral("verified"));
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("SerialNumber"), 1), QString());
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("SMARTSupport"), 1), QStringLiteral("no"));
    EXPECT_EQ(overview.objectValueForTableColumn(QStringLiteral("SMARTStatus"), 1), QStringLiteral("not available"));
}

TEST(SystemInfoDisplay, TakesMakerAndBoardSerialFromTheSMBIOSRecords)
{
    auto client = std::make_shared<ScriptedInfoClient>();
    SystemInfoDisplay display(client, QStringLiteral("System Information"));
    EXPECT_EQ(display.systemVendor(), QStringLiteral(""));
    EXPECT_FALSE(display.systemVendor().isNull());
    const auto structure = [](quint64 type, const QVariantMap& contents) {
        return QVariantMap{{"TypeCode", values::fromUnsigned(type)}, {"Contents", contents}};
    };
    client->smbios = QVariantList{structure(1, {{"Manufacturer", "Early Inc."}}), structure(2, {{"SerialNumber", "\t C0BOARD \n"}}),
                                  structure(1, {{"Manufacturer", " Apple Inc.\r\n"}}), structure(4, {{"CPUSocket", "U3E1"}})};
    display.openWindow();
    EXPECT_EQ(display.systemVendor(), QStringLiteral("Apple Inc."));
    EXPECT_EQ(display.mainboardSerialNumber(), QStringLiteral("C0BOARD"));
    EXPECT_EQ(display.ui().systemVendorField->text(), QStringLiteral("Apple Inc."));
    EXPECT_EQ(display.smSheetController()->processors().size(), 1);

    // A list without those records empties them; no list at all keeps them.
    client->smbios = QVariantList{structure(4, {{"CPUSocket", "U3E1"}})};
    display.updateContents();
    EXPECT_EQ(display.systemVendor(), QStringLiteral(""));
    client->smbios = QVariantList{structure(1, {{"Manufacturer", "Apple Inc."}})};
    display.updateContents();
    client->smbios.reset();
    display.updateContents();
    EXPECT_EQ(display.systemVendor(), QStringLiteral("Apple Inc."));
    EXPECT_EQ(display.smSheetController()->processors().size(), 0) << "the sheet keeps the last list it was given";

    // The sheet opens on the window and its close button ends it.
    display.openManagementSheet();
    QDialog* sheet = display.smSheetController()->window();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->parentWidget(), display.window());
    sheet->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
    EXPECT_FALSE(sheet->isVisible());
}

// --- The simulated computers ------------------------------------------------------------------------------

namespace {

struct Expected {
    const char* computer;
    const char* model;
    const char* processor; // /proc/cpuinfo's "model name"
    bool hasBattery;
    bool hasDisplay;
};

class SimulatedComputerWindows : public ::testing::TestWithParam<Expected> {
protected:
    void SetUp() override
    {
        const auto loaded = platform::SimulatedComputer::load(
            kt::sourcePath(QStringLiteral("fixtures/computers/") + QLatin1String(GetParam().computer)));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
    }
    void TearDown() override { platform::SimulatedComputer::setCurrent(nullptr); }

    // What the windows show of the client, as texts.
    static QStringList fill(const std::shared_ptr<MonitoringClient>& client)
    {
        QStringList texts;
        SystemInfoDisplay system(client, QStringLiteral("System Information"));
        system.updateContents();
        const auto& sys = system.ui();
        texts << sys.modelCodeField->text() << sys.serialNumberField->text() << sys.processorField->text()
              << sys.memoryField->text() << system.systemVendor()
              << QString::number(system.smSheetController()->memoryDevices().size());
        DriveOverview drives(client, QStringLiteral("Drive Overview"));
        drives.updateContents();
        for (qsizetype row = 0; row < drives.numberOfRows(); ++row)
            for (const QString& column : DriveOverview::columnIdentifiers())
                texts << drives.objectValueForTableColumn(column, row);
        SmartBatteryInfoDisplay battery(client, QStringLiteral("Battery Information"));
        battery.updateContents();
        texts << battery.ui().headlineField->text() << battery.ui().batteryNameField->text();
        DisplayInfoDisplay display(client, QStringLiteral("Display Information"));
        display.updateContents();
        texts << display.ui().headlineField->text() << display.ui().manufacturerField->text()
              << display.ui().productNameField->text();
        return texts;
    }
};

} // namespace

TEST_P(SimulatedComputerWindows, FillLocallyAndThroughTheRemoteAgent)
{
    const Expected& expected = GetParam();
    auto local = std::make_shared<kt::CoreBackedClient>(kt::ProtocolTestPeer::simulatedComputerCore()());
    const QStringList texts = fill(local);
    EXPECT_EQ(texts[0], QLatin1String(expected.model));
    EXPECT_FALSE(texts[1].isEmpty());
    EXPECT_TRUE(texts[2].startsWith(QLatin1String(expected.processor) + QLatin1Char('\n'))) << texts[2].toStdString();
    EXPECT_TRUE(texts[2].contains(QLatin1String("Family "))) << texts[2].toStdString();
    EXPECT_FALSE(texts[3].isEmpty());
    EXPECT_EQ(texts[4], QStringLiteral("Apple Inc."));
    EXPECT_NE(texts[5], QStringLiteral("0")) << "memory devices in the SMBIOS sheet";
    EXPECT_TRUE(texts.contains(QStringLiteral("Smart Battery Unit")) == expected.hasBattery);
    EXPECT_TRUE(texts.contains(QStringLiteral("No battery available")) == !expected.hasBattery);
    EXPECT_TRUE(texts.contains(QStringLiteral("Display 1")) == expected.hasDisplay);
    EXPECT_TRUE(texts.contains(QStringLiteral("verified")) || texts.contains(QStringLiteral("unknown")) ||
                texts.contains(QStringLiteral("not available")))
        << "at least one drive";

    kt::ProtocolTestPeer peer(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
    ASSERT_TRUE(peer.isListening());
    auto proxy = TEVRemoteKelvaroClient::createWithHostSpecifier(QStringLiteral("127.0.0.1"), peer.port());
    ASSERT_TRUE(proxy);
    ASSERT_TRUE(proxy->checkConnectivityWithTimeout(5.0));
    auto remote = std::make_shared<kt::CoreBackedClient>(proxy);
    EXPECT_TRUE(remote->isRemote());
    EXPECT_EQ(fill(remote), texts);
}

INSTANTIATE_TEST_SUITE_P(Computers, SimulatedComputerWindows,
                         ::testing::Values(Expected{"portable", "MacBookPro11,1", "Intel(R) Core(TM) i5-4258U CPU @ 2.40GHz", true, true},
                                           Expected{"tower", "MacPro6,1", "Intel(R) Xeon(R) CPU E5-1650 v2 @ 3.50GHz", false, true},
                                           Expected{"server", "MacPro7,1", "Intel(R) Xeon(R) W-3245 CPU @ 3.20GHz", false, false}),
                         [](const auto& info) { return std::string(info.param.computer); });
