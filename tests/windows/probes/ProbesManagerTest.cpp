// The probe pane: dispatch of the 27 kinds to their sheets, the equipment error on empty sources, the disk
// filter, index clamping, accept rules, edits that move a probe last, and import and export of the list.

#include "windows/probes/ProbesManager.h"

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVMonitoringClient.h"
#include "platform/desktop/SavePanel.h"
#include "platform/foundation/PropertyList.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/QuietMonitoringClient.h"
#include "tests/support/TestEnvironment.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using Kind = TEVArtificialSensor::Kind;
using Sheet = ProbesManager::Sheet;

namespace {

const QString kEquipment = QStringLiteral("The computer doesn't have the necessary equipment for this type of probe.");
const QString kNotCreated = QStringLiteral("The probe could not be created");

// The local computer as the pane asks it: batteries, sensors for the power sheet, rescans.
class ProbeClient final : public kelvaro::test::QuietMonitoringClient {
public:
    quint64 batteries = 1;
    QList<std::pair<QString, qint64>> sensors = {{QStringLiteral("VP0R"), 2}, {QStringLiteral("IP0R"), 3}, {QStringLiteral("TC0D"), 1}};
    int rescans = 0;

    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& id) override
    {
        for (const auto& [identifier, quantity] : sensors) {
            if (identifier != id)
                continue;
            TEVSensor sensor;
            sensor.setUniqueIdentifier(id);
            sensor.setLocationIdentifier(QStringLiteral("Location ") + id);
            sensor.setQuantityType(quantity);
            return TEVSensorDescription::createForSensor(&sensor);
        }
        return nullptr;
    }
    QStringList availableSensorIdentifiers() override
    {
        QStringList ids;
        for (const auto& sensor : std::as_const(sensors))
            ids.append(sensor.first);
        return ids;
    }
    std::shared_ptr<const TEVMachineInfo> machineInfo() override { return TEVMachineInfo::sharedMachineInfo(); }
    quint64 numberOfAvailableBatteryUnits() override { return batteries; }
    void rescanForSensors() override { ++rescans; }

    QString clientIdentification() const override { return QStringLiteral("C02PROBE"); }
    QString machineSerialNumber() override { return QStringLiteral("C02PROBE"); }
    QString machineName() override { return QStringLiteral("Probe computer"); }
    quint64 numberOfAvailableSensors() override { return quint64(sensors.size()); }
    bool saveLongTermHistoryBuffers() override { return true; }
};

class ScriptedSavePanel final : public platform::SavePanel {
public:
    QList<std::optional<QString>> answers;
    std::optional<platform::SavePanelResult> runModal(const platform::SavePanelOptions&) override
    {
        const auto answer = answers.isEmpty() ? std::nullopt : answers.takeFirst();
        return answer ? std::optional(platform::SavePanelResult{*answer, 0}) : std::nullopt;
    }
};

ProbesManager::Sources fullSources()
{
    ProbesManager::Sources s;
    s.volumes = [] {
        return QList<ProbesManager::Sources::Volume>{{QStringLiteral("Data"), QStringLiteral("/data"), 1000},
                                                     {QStringLiteral("dev"), QStringLiteral("/dev"), 1000},
                                                     {QStringLiteral("proc"), QStringLiteral("/proc"), 0},
                                                     {QString(), QStringLiteral("/unnamed"), 1000},
                                                     {QStringLiteral("Home"), QStringLiteral("/home"), 500}};
    };
    s.raidSets = [] { return QList<ProbesManager::Sources::NamedObject>{{QStringLiteral("md0"), QStringLiteral("UUID-0")}}; };
    s.smartDrives = [] { return QList<ProbesManager::Sources::NamedObject>{{QStringLiteral("WDC WD5000"), QStringLiteral("WX1")}}; };
    s.networkInterfaceNames = [] { return QStringList{QStringLiteral("eth0"), QStringLiteral("enp0s3")}; };
    s.networkPresentationNames = [] { return QMap<QString, QString>{{QStringLiteral("eth0"), QStringLiteral("Uplink")}}; };
    return s;
}

class ProbePane : public ::testing::Test {
protected:
    void SetUp() override
    {
        TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(QVariantList());
        platform::SavePanel::setShared(savePanel);
        makeManager(fullSources());
    }
    void TearDown() override
    {
        manager.reset();
        TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(QVariantList());
        platform::SavePanel::setShared(nullptr);
    }
    void makeManager(ProbesManager::Sources sources)
    {
        manager = std::make_unique<ProbesManager>(std::move(sources));
        manager->useLocalMonitoringClient(client);
    }
    template <typename T>
    T* child(const char* name) { return manager->sheetWindow()->findChild<T*>(QString::fromLatin1(name)); }
    QTableView* probeTable() { return manager->preferencePaneView()->findChild<QTableView*>(QStringLiteral("probeTable")); }
    void add(qint64 kind)
    {
        auto* popUp = manager->preferencePaneView()->findChild<QComboBox*>(QStringLiteral("probeTypePopUp"));
        popUp->setCurrentIndex(popUp->findData(kind));
        manager->editProbeList(0);
    }
    void selectRow(QTableView* table, int row) { table->selectRow(row); }
    bool acceptEnabled(const char* box) { return child<QDialogButtonBox>(box)->button(QDialogButtonBox::Ok)->isEnabled(); }
    static QStringList sources()
    {
        QStringList out;
        for (const auto& probe : TEVArtificialSensor::allArtificialSensors())
            out.append(probe->associatedFirstSensorSourceName());
        return out;
    }
    void addDisk(const QString& path)
    {
        ASSERT_TRUE(TEVArtificialSensor::addArtificialSensor(TEVArtificialSensor::createAsStorageSensorForPath(path, Kind::DiskFree)));
    }
    QString writeList(const QVariant& root)
    {
        const QString path = dir.filePath(QStringLiteral("list-%1.plist").arg(++files));
        kelvaro::test::writeFile(path, platform::writePropertyList(root, platform::PlistFormat::Xml));
        return path;
    }

    kelvaro::test::ScopedDesktopFakes fakes;
    std::shared_ptr<ScriptedSavePanel> savePanel = std::make_shared<ScriptedSavePanel>();
    std::shared_ptr<ProbeClient> client = std::make_shared<ProbeClient>();
    std::unique_ptr<ProbesManager> manager;
    QTemporaryDir dir;
    int files = 0;
};

} // namespace

TEST_F(ProbePane, EachKindOpensItsSheetOrIsMadeAtOnce)
{
    for (qint64 kind = 1; kind <= Kind::LastKind; ++kind) {
        SCOPED_TRACE(kind);
        const qsizetype before = TEVArtificialSensor::allArtificialSensors().size();
        add(kind);
        Sheet expected = Sheet::None;
        if (kind == Kind::CPULoad || kind == Kind::RemainingBattery)
            expected = Sheet::Index;
        else if ((kind >= Kind::DiskCapacity && kind <= Kind::DiskUsed) || kind == Kind::RAIDStatus)
            expected = Sheet::Disk;
        else if (kind == Kind::SMARTStatus)
            expected = Sheet::SMARTDrive;
        else if (kind == Kind::Power)
            expected = Sheet::Power;
        else if (kind >= Kind::NetOutPackages)
            expected = Sheet::Network;
        EXPECT_EQ(manager->openSheet(), expected);
        EXPECT_EQ(TEVArtificialSensor::allArtificialSensors().size(), before + (expected == Sheet::None ? 1 : 0));
        // Escape or the close box cancels as the cancel button does.
        if (kind % 2)
            manager->sheetWindow()->reject();
        else
            manager->closeSheet(0);
        EXPECT_EQ(manager->openSheet(), Sheet::None);
    }
    EXPECT_EQ(client->rescans, 10); // kinds 5 to 12, 17, 18
    EXPECT_TRUE(fakes.alerts->shown.isEmpty());
    // A second probe of a kind without a source is refused; a kind outside the table only logs.
    add(Kind::MemoryFree);
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.alerts->shown.first().messageText, kNotCreated);
    manager->editProbe(nullptr, 28);
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("no implementation to handle probe of type 28")));
    EXPECT_EQ(manager->openSheet(), Sheet::None);
}

// The sheets are made at the first one: given the preference window before or after, they open on it.
TEST_F(ProbePane, SheetsAreDialogsOfThePreferenceWindowWhenEverItCame)
{
    for (const bool windowFirst : {true, false}) {
        SCOPED_TRACE(windowFirst);
        makeManager(fullSources());
        QWidget window;
        if (windowFirst)
            manager->setPreferenceWindow(&window);
        add(Kind::CPULoad);
        ASSERT_EQ(manager->openSheet(), Sheet::Index);
        if (!windowFirst)
            manager->setPreferenceWindow(&window);
        QDialog* sheet = manager->sheetWindow();
        EXPECT_EQ(sheet->parentWidget(), &window);
        EXPECT_TRUE(sheet->isWindow());
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        EXPECT_TRUE(child<QLineEdit>("indexField"));
        manager->closeSheet(0);
        EXPECT_EQ(manager->openSheet(), Sheet::None);
        manager.reset();
    }
}

TEST_F(ProbePane, MissingEquipmentShowsTheEquipmentError)
{
    client->batteries = 0;
    client->sensors = {{QStringLiteral("VP0R"), 2}};
    ProbesManager::Sources none;
    none.volumes = [] { return QList<ProbesManager::Sources::Volume>{{QStringLiteral("dev"), QStringLiteral("/dev"), 10}}; };
    makeManager(none);
    for (const qint64 kind : {Kind::RemainingBattery, Kind::DiskFree, Kind::RAIDStatus, Kind::SMARTStatus, Kind::Power, Kind::NetInBytes}) {
        SCOPED_TRACE(kind);
        fakes.alerts->shown.clear();
        add(kind);
        EXPECT_EQ(manager->openSheet(), Sheet::None);
        ASSERT_EQ(fakes.alerts->shown.size(), 1);
        EXPECT_EQ(fakes.alerts->shown.first().messageText, kEquipment);
    }
}

TEST_F(ProbePane, SheetListsAndAcceptRules)
{
    add(Kind::DiskUsed);
    // Pseudo mounts, empty volumes and nameless ones are left out.
    ASSERT_EQ(manager->diskDevices().size(), 2);
    EXPECT_EQ(manager->diskDevices().at(1).value(QStringLiteral("Column1")).toString(), QStringLiteral("/home"));
    EXPECT_FALSE(acceptEnabled("diskSheetCloseButtons"));
    // Accepting with nothing chosen beeps and makes nothing.
    manager->closeSheet(1);
    EXPECT_EQ(fakes.alerts->beeps, 1);
    EXPECT_TRUE(TEVArtificialSensor::allArtificialSensors().isEmpty());

    add(Kind::NetOutBytes);
    ASSERT_EQ(manager->networkInterfaceNames().size(), 2); // sorted; a name without alias gets the fallback
    EXPECT_EQ(manager->networkInterfaceNames().at(0).value(QStringLiteral("Name")).toString(), QStringLiteral("BSD Interface 'enp0s3'"));
    selectRow(child<QTableView>("networkTable"), 1);
    EXPECT_TRUE(acceptEnabled("networkSheetCloseButtons"));
    manager->closeSheet(1);
    ASSERT_EQ(TEVArtificialSensor::allArtificialSensors().size(), 1);
    EXPECT_EQ(TEVArtificialSensor::allArtificialSensors().first()->localizedDescriptionForAssociatedObjectAtIndex(0), QStringLiteral("Uplink"));

    add(Kind::Power);
    selectRow(child<QTableView>("voltageSensorTable"), 0);
    EXPECT_FALSE(acceptEnabled("powerSheetCloseButtons"));
    selectRow(child<QTableView>("amperageSensorTable"), 0);
    EXPECT_TRUE(acceptEnabled("powerSheetCloseButtons"));
    manager->closeSheet(1);
    const auto power = TEVArtificialSensor::allArtificialSensors().last();
    EXPECT_EQ(power->associatedFirstSensorSourceName(), QStringLiteral("VP0R!TEV!Location VP0R"));
    EXPECT_EQ(power->associatedSecondSensorSourceName(), QStringLiteral("IP0R!TEV!Location IP0R"));
    EXPECT_EQ(client->rescans, 2);
}

TEST_F(ProbePane, IndexFieldClampsToTheProcessorCountWithABeep)
{
    const qint64 cpus = qint64(TEVMachineInfo::sharedMachineInfo()->processorCount());
    ASSERT_GE(cpus, 1);
    add(Kind::CPULoad);
    auto* field = child<QLineEdit>("indexField");
    const struct { QString typed; qint64 shown; int beeps; } rows[] = {
        {QStringLiteral("0"), 1, 1}, {QString::number(cpus + 1), cpus, 1}, {QStringLiteral("x"), 1, 1}, {QString::number(cpus), cpus, 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        fakes.alerts->beeps = 0;
        field->setText(row.typed);
        manager->changeIndex(field);
        EXPECT_EQ(field->text(), QString::number(row.shown));
        EXPECT_EQ(child<QSpinBox>("indexStepper")->value(), row.shown);
        EXPECT_EQ(fakes.alerts->beeps, row.beeps);
    }
    manager->closeSheet(1);
    EXPECT_EQ(TEVArtificialSensor::allArtificialSensors().first()->associatedIndex(), cpus - 1);
}

TEST_F(ProbePane, AnEditedProbeMovesLastAndComesBackOnFailure)
{
    addDisk(QStringLiteral("/a"));
    addDisk(QStringLiteral("/data"));
    addDisk(QStringLiteral("/c"));
    ASSERT_TRUE(TEVArtificialSensor::addArtificialSensor(TEVArtificialSensor::createAsMemorySensorOfType(Kind::MemoryFree)));
    // The pane shows the list as it is when it appears.
    manager->preferencePaneView()->show();
    EXPECT_EQ(probeTable()->model()->rowCount(), 4);
    // A probe without a source has nothing to edit.
    selectRow(probeTable(), 3);
    manager->editProbe();
    EXPECT_EQ(manager->openSheet(), Sheet::None);

    selectRow(probeTable(), 0);
    manager->editProbe();
    ASSERT_EQ(manager->openSheet(), Sheet::Disk);
    selectRow(child<QTableView>("diskTable"), 1); // /home
    manager->closeSheet(1);
    EXPECT_EQ(sources(), (QStringList{QStringLiteral("/data"), QStringLiteral("/c"), QString(), QStringLiteral("/home")}));

    // Choosing a source another probe has fails; the edited probe comes back, at the end.
    selectRow(probeTable(), 1);
    manager->editProbe();
    selectRow(child<QTableView>("diskTable"), 0); // /data, taken
    manager->closeSheet(1);
    EXPECT_EQ(sources(), (QStringList{QStringLiteral("/data"), QString(), QStringLiteral("/home"), QStringLiteral("/c")}));
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.alerts->shown.first().messageText, kNotCreated);

    selectRow(probeTable(), 0);
    manager->editProbeList(1);
    EXPECT_EQ(sources().size(), 3);
}

TEST_F(ProbePane, ImportReplacesTheListAndReportsTheCounts)
{
    const QVariantMap memory{{QStringLiteral("Type"), QStringLiteral("MemoryFree")}, {QStringLiteral("Index"), -1}};
    const QVariantMap swap{{QStringLiteral("Type"), QStringLiteral("MemorySwapUsed")}, {QStringLiteral("Index"), -1}};
    const QVariantMap unknown{{QStringLiteral("Type"), QStringLiteral("NoSuchKind")}};
    const struct { QVariant root; int size; QString report; } rows[] = {
        {QVariantList{memory, unknown, swap}, 2, QStringLiteral("descriptions of 3 artificial sensors. 2 could")},
        {QVariantList{}, 0, QStringLiteral("descriptions of 0 artificial sensors. 0 could")},
        {QVariantMap{{QStringLiteral("Type"), QStringLiteral("MemoryFree")}}, 0, QStringLiteral("could not be read")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.report.toStdString());
        fakes.alerts->shown.clear();
        fakes.panel->answers = {writeList(row.root)};
        fakes.alerts->answers = {1}; // "Yes", when the list is not empty
        const qsizetype before = TEVArtificialSensor::allArtificialSensors().size();
        manager->selectImportExportOption(1);
        ASSERT_FALSE(fakes.alerts->shown.isEmpty());
        const auto& last = fakes.alerts->shown.last();
        EXPECT_TRUE((last.informativeText + last.messageText).contains(row.report));
        EXPECT_EQ(TEVArtificialSensor::allArtificialSensors().size(), row.root.typeId() == QMetaType::QVariantMap ? before : row.size);
    }
}

TEST_F(ProbePane, ImportReplacesANonEmptyListOnlyOnYes)
{
    addDisk(QStringLiteral("/data"));
    const QString file = writeList(QVariantList{});
    // 0 is "No", and also what closing the question or Escape answers.
    for (const int answer : {0, 1}) {
        fakes.alerts->answers = {answer};
        fakes.panel->answers = {file};
        manager->selectImportExportOption(1);
        EXPECT_EQ(TEVArtificialSensor::allArtificialSensors().size(), answer == 1 ? 0 : 1);
        EXPECT_EQ(fakes.alerts->shown.first().buttons, (QStringList{QStringLiteral("No"), QStringLiteral("Yes")}));
    }
    EXPECT_EQ(fakes.panel->shown.size(), 1);
}

TEST_F(ProbePane, ExportThenImportGivesTheSameList)
{
    addDisk(QStringLiteral("/data"));
    ASSERT_TRUE(TEVArtificialSensor::addArtificialSensor(TEVArtificialSensor::createAsSMARTStatusSensorForProductName(
        QStringLiteral("WDC WD5000"), QStringLiteral("WX1"))));
    ASSERT_TRUE(TEVArtificialSensor::addArtificialSensor(TEVArtificialSensor::createAsBatterySensorForIndex(0)));
    ASSERT_TRUE(TEVArtificialSensor::addArtificialSensor(TEVArtificialSensor::createAsPowerSensorForVoltageSensorNamed(
        QStringLiteral("VP0R"), QStringLiteral("Volts"), QStringLiteral("IP0R"), QStringLiteral("Amperes"))));
    const QVariantList exported = TEVArtificialSensor::preferenceDictionariesForAllSensors();
    const QString path = dir.filePath(QStringLiteral("Probes.plist"));
    savePanel->answers = {path, dir.filePath(QStringLiteral("missing/Probes.plist"))};
    manager->selectImportExportOption(2);
    EXPECT_TRUE(fakes.alerts->shown.isEmpty());
    manager->selectImportExportOption(2);
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.alerts->shown.first().messageText, QStringLiteral("The export file could not be written."));

    TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(QVariantList());
    fakes.panel->answers = {path};
    manager->selectImportExportOption(1);
    EXPECT_EQ(TEVArtificialSensor::preferenceDictionariesForAllSensors(), exported);
    EXPECT_EQ(probeTable()->model()->rowCount(), 4);
}

// A file that gives no probe, or is larger than any probe list, leaves the list as it was and says why;
// repeated descriptions are imported once.
TEST_F(ProbePane, ImportKeepsTheListWhenTheFileGivesNothingUsable)
{
    const QByteArray memory = "<dict><key>Type</key><string>MemoryFree</string><key>Index</key><integer>-1</integer></dict>";
    const QByteArray swap = "<dict><key>Type</key><string>MemorySwapUsed</string><key>Index</key><integer>-1</integer></dict>";
    const auto plist = [](const QByteArray& array) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>" + array + "</array></plist>";
    };
    const struct {
        const char* name;
        QByteArray file;
        QString message;
        QStringList list; // the probes' types afterwards
    } rows[] = {
        {"strings", plist("<string>MemoryFree</string><string>x</string>"), "No probe definitions could be imported.", {"DiskFree"}},
        {"unknown kinds", plist("<dict><key>Type</key><string>NoSuchKind</string></dict><array/>"),
         "No probe definitions could be imported.", {"DiskFree"}},
        {"over 1 MiB", plist("<string>" + QByteArray(1024 * 1024, 'x') + "</string>"), "The import file is too large.",
         {"DiskFree"}},
        {"over 10,000 entries", plist(QByteArray("<true/>").repeated(10001)),
         "The import file holds too many probe definitions.", {"DiskFree"}},
        {"duplicates", plist(memory + swap + memory + memory), "The probe definitions have been imported.",
         {"MemoryFree", "MemorySwapUsed"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(QVariantList());
        addDisk(QStringLiteral("/data"));
        const QString path = dir.filePath(QStringLiteral("import.plist"));
        kelvaro::test::writeFile(path, row.file);
        fakes.alerts->shown.clear();
        fakes.alerts->answers = {1}; // "Yes": replace the list
        fakes.panel->answers = {path};
        manager->selectImportExportOption(1);
        ASSERT_EQ(fakes.alerts->shown.size(), 2);
        EXPECT_EQ(fakes.alerts->shown.last().messageText, row.message);
        QStringList types;
        for (const QVariant& probe : TEVArtificialSensor::preferenceDictionariesForAllSensors())
            types.append(probe.toMap().value(QStringLiteral("Type")).toString());
        EXPECT_EQ(types, row.list);
    }
    EXPECT_TRUE(fakes.alerts->shown.last().informativeText.contains(QStringLiteral("4 artificial sensors. 2 could")));
    EXPECT_TRUE(fakes.alerts->shown.last().informativeText.contains(QStringLiteral("2 duplicate")));
}
