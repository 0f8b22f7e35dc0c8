#pragma once
// SMBIOSSheetController: the sheet of the system information window that shows a computer's decoded SMBIOS
// structures in groups (firmware, computer, board, enclosure, processors, caches, connectors, slots, devices,
// jumpers, memory), with the structures' codes turned into texts. The conversions are static and need no
// window. Main thread only.

#include <QPointer>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class QDialog;
class QLabel;
class QTabWidget;
class QTableWidget;
class QWidget;

class SMBIOSSheetControllerDelegate {
public:
    virtual ~SMBIOSSheetControllerDelegate() = default;
    virtual void closeSMBIOSSheet(QObject* sender) = 0;
};

class SMBIOSSheetController {
public:
    explicit SMBIOSSheetController(const QString& windowNibName = QStringLiteral("SMBIOSSheet"));
    ~SMBIOSSheetController();
    SMBIOSSheetController(const SMBIOSSheetController&) = delete;
    SMBIOSSheetController& operator=(const SMBIOSSheetController&) = delete;

    void setDelegate(const std::weak_ptr<SMBIOSSheetControllerDelegate>& delegate) { delegate_ = delegate; }
    // Stores the list and rebuilds every group from it.
    void setManagementRecords(const std::optional<QVariantList>& records);
    const std::optional<QVariantList>& managementRecords() const { return managementRecords_; }

    const std::optional<QVariantMap>& firmwareDescription() const { return firmwareDescription_; }
    const std::optional<QVariantMap>& computerDescription() const { return computerDescription_; }
    const std::optional<QVariantMap>& mainboardDescription() const { return mainboardDescription_; }
    const std::optional<QVariantMap>& enclosureDescription() const { return enclosureDescription_; }
    const QList<QVariantMap>& processors() const { return processors_; }
    const QList<QVariantMap>& cacheUnits() const { return cacheUnits_; }
    const QList<QVariantMap>& connectors() const { return connectors_; }
    // "slots" is a Qt keyword.
    const QList<QVariantMap>& expansionSlots() const { return slots_; }
    const QList<QVariantMap>& devices() const { return devices_; }
    const QList<QVariantMap>& jumpers() const { return jumpers_; }
    const QList<QVariantMap>& memoryDevices() const { return memoryDevices_; }
    // -1 when the group is empty.
    int selectedProcessorRow() const;
    int selectedCacheRow() const;

    // The sheet, made on first use; its tables follow every rebuild.
    QDialog* window();
    // The action of the close button: tells the delegate.
    void close(QObject* sender);

    // --- Texts --------------------------------------------------------------------------------------------
    static QString presentableStringForSMBIOSCount(quint8 count);
    static QString localizedStringForMHzSpecification(quint64 megahertz);
    static QString localizedStringForCacheSizeCode(quint16 code);
    // 0x7FFF with bit 15 clear means the size is in `extendedSizeMiB` (bits 0-30) when the record has one.
    static QString localizedStringForMemorySizeCode(quint16 code, std::optional<quint32> extendedSizeMiB = std::nullopt);
    static QString localizedStringForMemoryTotalWidth(quint16 totalWidth, quint16 dataWidth);
    static QString localizedStringForSRAMTypeCode(quint16 code);
    static QString presentableStringForCPUID(quint64 identification);
    // Null for anything but 16 bytes, and for a UUID that is not present (all 0x00) or not set (all 0xFF).
    static QString presentableStringForSMBIOSUUIDData(const QByteArray& bytes);
    static QString localizedStringForCacheTypeCode(quint8 code);
    static QString localizedStringForECCTypeCode(quint8 code);
    static QString localizedStringForAssociativityCode(quint8 code);
    static QString localizedStringForConnectorTypeCode(quint8 code);
    static QString localizedStringForPortTypeCode(quint8 code);
    static QString localizedStringForSlotTypeCode(quint8 code);
    static QString localizedStringForSlotBusWidthCode(quint8 code);
    static QString localizedStringForSlotLengthCode(quint8 code);
    static QString localizedStringForDeviceTypeOrStatusCode(quint8 code);
    static QString localizedStringForMemoryFormFactorCode(quint8 code);
    static QString localizedStringForMemoryTypeCode(quint8 code);

    // --- Records ------------------------------------------------------------------------------------------
    // Each a copy of the structure's "Contents" with its coded fields turned into texts; a field the record
    // does not hold stays absent.
    static QVariantMap presentableRecordForFirmwareRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForComputerRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForEnclosureRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForProcessorRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForCacheRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForConnectorRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForSlotRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForDeviceRecord(const QVariantMap& contents);
    static QVariantMap presentableRecordForMemoryDeviceRecord(const QVariantMap& contents);
    static QList<QVariantMap> jumperDescriptionsForJumpersRecord(const QVariantMap& contents);
    static void makeGenericEntriesPresentableInManagementRecord(QVariantMap& record);

    // A field's value as the tables show it.
    static QString displayTextForValue(const QVariant& value);

private:
    void reloadTables();

    std::weak_ptr<SMBIOSSheetControllerDelegate> delegate_;
    QString windowNibName_;
    std::optional<QVariantList> managementRecords_;
    std::optional<QVariantMap> firmwareDescription_;
    std::optional<QVariantMap> computerDescription_;
    std::optional<QVariantMap> mainboardDescription_;
    std::optional<QVariantMap> enclosureDescription_;
    QList<QVariantMap> processors_;
    QList<QVariantMap> cacheUnits_;
    QList<QVariantMap> connectors_;
    QList<QVariantMap> slots_;
    QList<QVariantMap> devices_;
    QList<QVariantMap> jumpers_;
    QList<QVariantMap> memoryDevices_;
    int processorSelection_ = -1;
    int cacheSelection_ = -1;
    std::unique_ptr<QDialog> window_;
    QList<QTableWidget*> tables_;
    QLabel* noTableMessage_ = nullptr;   // owned by the window
    QTabWidget* groupTabs_ = nullptr;    // owned by the window
};
