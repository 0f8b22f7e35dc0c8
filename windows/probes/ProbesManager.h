#pragma once
// ProbesManager: the probe pane of the preference window (pane 9). Lists TEVArtificialSensor's class-wide
// probe list, creates probes of the 27 kinds through a source sheet where the kind needs one, edits and
// removes them, and imports and exports the whole list as a property-list file. Holds no copy of the list;
// every change makes the local client rescan its sensors. One shared instance; main thread only.

#include "app/model/ApplicationWindows.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

class QAbstractButton;
class QDialog;
class QTableView;
class TEVArtificialSensor;

class ProbesManager final : public ProbesPane {
public:
    // Where the sheets' source lists come from; `live` reads this computer.
    struct Sources {
        struct Volume {
            QString name;
            QString mountPoint;
            quint64 blockCount = 0;
        };
        struct NamedObject {
            QString name;
            QString identifier;
        };
        std::function<QList<Volume>()> volumes;
        std::function<QList<NamedObject>()> raidSets;
        // name = product name, identifier = serial number
        std::function<QList<NamedObject>()> smartDrives;
        std::function<QStringList()> networkInterfaceNames;
        // BSD name → shown name, where an interface has one
        std::function<QMap<QString, QString>()> networkPresentationNames;
        static Sources live();
    };
    enum class Sheet { None, Index, Disk, SMARTDrive, Power, Network };
    using Rows = QList<QVariantMap>;

    // Made on first use; kept while the application controller holds it.
    static std::shared_ptr<ProbesManager> sharedProbesManager();

    explicit ProbesManager(Sources sources = Sources::live());
    ~ProbesManager() override;
    ProbesManager(const ProbesManager&) = delete;
    ProbesManager& operator=(const ProbesManager&) = delete;

    // --- ProbesPane ---
    // The pane, without a parent until a host puts it into its container.
    QWidget* preferencePaneView() override;
    // The window the sheets open on.
    void setPreferenceWindow(QWidget* window) override;
    void useLocalMonitoringClient(const std::shared_ptr<MonitoringClient>& client) override;

    // --- Actions ---
    // Tag 0 adds a probe of the kind chosen in the type pop-up, tag 1 removes the selected probe.
    void editProbeList(int tag);
    // 1 imports, 2 exports; 0 is the pop-up's title.
    void selectImportExportOption(int index);
    // The probe table's double action: edits the selected probe.
    void editProbe();
    void selectProbe();
    // A sheet table's selection changed: enables the accept button.
    void selectMonitoredObject(QTableView* sender);
    // The index field or stepper changed: clamps it and copies the value to the other.
    void changeIndex(QObject* sender);
    // Ends the open sheet; tag 1 accepts, 0 cancels.
    void closeSheet(int tag);

    // With a probe, edits it (its own kind counts); without, creates one of `kind`.
    void editProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind);
    void importProbeDefinitions();
    void reflectConfigurationChange();
    void updateContents();
    void updateDisplayState();

    // --- What tests and the host read ---
    Sheet openSheet() const { return sheet_; }
    QDialog* sheetWindow() const;
    const Rows& diskDevices() const { return diskDevices_; }
    const Rows& smartDevices() const { return smartDevices_; }
    const Rows& amperageSensors() const { return amperageSensors_; }
    const Rows& voltageSensors() const { return voltageSensors_; }
    const Rows& networkInterfaceNames() const { return networkInterfaceNames_; }

private:
    struct Ui;
    class RowsModel;
    class ProbeListModel;

    void addOrEditExistingCPULoadProbe(const std::shared_ptr<TEVArtificialSensor>& probe);
    void addOrEditExistingDiskProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind);
    void addOrEditExistingMemoryProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind);
    void addOrEditExistingSMARTProbe(const std::shared_ptr<TEVArtificialSensor>& probe);
    void addOrEditExistingRAIDProbe(const std::shared_ptr<TEVArtificialSensor>& probe);
    void addOrEditExistingPowerProbe(const std::shared_ptr<TEVArtificialSensor>& probe);
    void addOrEditExistingBatteryProbe(const std::shared_ptr<TEVArtificialSensor>& probe);
    void addOrEditExistingTotalCPULoadProbe(const std::shared_ptr<TEVArtificialSensor>& probe);
    void addOrEditExistingProcessCountProbe(const std::shared_ptr<TEVArtificialSensor>& probe);
    void addOrEditExistingNetworkProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind);
    // The kinds without a sheet: made at once when creating, nothing when editing.
    void addProbeWithoutSheet(const std::shared_ptr<TEVArtificialSensor>& probe,
                              const std::function<std::shared_ptr<TEVArtificialSensor>()>& make);
    bool updateDiskSelectionTableForRAID(bool raid);
    void openIndexSheet(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind, qint64 maximum);
    void beginSheet(Sheet sheet, const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind);
    // The probe the open sheet's choice makes; false (with a beep) when nothing valid is chosen.
    bool makeProbeFromSheet(std::shared_ptr<TEVArtificialSensor>* made);
    void exportProbeDefinitions();
    void openProbeCreationErrorSheet();
    void openInvalidProbeTypeErrorSheet();
    void openMessageSheet(const QString& message, const QString& politeInformation);
    QAbstractButton* acceptButton(Sheet sheet) const;
    int selectedRow(QTableView* table) const;
    void setUpPane();
    void setUpSheets();
    void ensureSheets() const;
    void ensurePane() const;

    Sources sources_;
    std::shared_ptr<MonitoringClient> localClient_;
    // The receiver of every widget connection, so that none outlives this object.
    std::unique_ptr<QObject> context_;
    QPointer<QWidget> preferenceWindow_;
    QPointer<QWidget> pane_;
    QPointer<QDialog> sheetWindow_;
    std::unique_ptr<Ui> ui_;
    RowsModel* diskModel_ = nullptr;
    RowsModel* smartModel_ = nullptr;
    RowsModel* amperageModel_ = nullptr;
    RowsModel* voltageModel_ = nullptr;
    RowsModel* networkModel_ = nullptr;
    ProbeListModel* probeModel_ = nullptr;

    Rows amperageSensors_;
    Rows voltageSensors_;
    Rows diskDevices_;
    Rows smartDevices_;
    Rows networkInterfaceNames_;

    Sheet sheet_ = Sheet::None;
    std::shared_ptr<TEVArtificialSensor> sheetProbe_; // the probe being edited, null when creating
    qint64 sheetKind_ = 0;
    qint64 indexMaximum_ = 0;
};
