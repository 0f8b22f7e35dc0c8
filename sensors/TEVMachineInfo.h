#pragma once
// TEVMachineInfo: the description of one computer: processors, caches, memory, model, serial number,
// firmware, kernel and operating system. The local computer's shared instance is collected once and never
// changes; instances decoded from archives describe other computers. Immutable, so any thread may read one.

#include "platform/foundation/Archivable.h"
#include "platform/foundation/HostRoot.h"
#include "platform/registry/IORegistry.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace platform {
class Coder;
}

class TEVMachineInfo final : public platform::Archivable {
public:
    using Registry = std::shared_ptr<const platform::IORegistry>;

    // The local computer, collected by the first call (concurrent first calls share one instance).
    static std::shared_ptr<const TEVMachineInfo> sharedMachineInfo();
    static bool supportsSecureCoding() { return true; }
    static QString fallBackSerialNumberPrefix() { return QStringLiteral("ZZZNOSERIAL"); }

    // Week and year of manufacture encoded in an 11- or 12-character serial number; the decade is the one
    // that puts the year at or before the current year. Either out pointer may be null.
    static bool getProductionWeek(qint64* week, qint64* year, const QString& serialNumber);
    // Midnight (local time) of the first day of that week of the Gregorian calendar: weeks start on Sunday
    // and week 1 holds 1 January. Invalid for years outside 1-9999 or weeks beyond ±1000.
    static QDateTime dateForAppleProductionWeek(qint64 week, qint64 year);
    // Texts of the model attribute list (resources/Kelvaro/MachineAttributes.plist); true only when both are
    // non-empty, but the texts found are delivered either way. Either out pointer may be null.
    static bool getLocalizedMarketingName(QString* marketingName, QString* description, const QString& modelCode);
    // The same on a given attribute list (model code → {"_LOCALIZABLE_": {"marketingModel", "description"}}).
    static bool getLocalizedMarketingName(QString* marketingName, QString* description, const QString& modelCode,
                                          const QVariant& attributeList);

    // Collects the local computer from HostRoot::current() and IORegistry::current().
    TEVMachineInfo();
    // Collects the computer whose files lie under `root` and whose registry is `registry` (null: none).
    TEVMachineInfo(const platform::HostRoot& root, Registry registry);
    // Null when the coder is not keyed (logged as the archive's failure) or the archive is bad.
    static std::shared_ptr<TEVMachineInfo> createWithCoder(platform::Coder& coder);
    // Through a keyed archive, so the copy reports mayNotReflectLocalMachine.
    std::shared_ptr<TEVMachineInfo> copy() const;

    quint64 processorCount() const { return processorCount_; }
    quint64 activeProcessorCount() const { return activeProcessorCount_; }
    quint64 processorChipCount() const { return processorChipCount_; }
    quint64 physicalCoreCount() const { return physicalCoreCount_; }
    QString processorVendor() const { return processorVendor_; }
    QString processorBrand() const { return processorBrand_; }
    quint8 processorFamilyCode() const { return processorFamilyCode_; }
    quint8 processorModelCode() const { return processorModelCode_; }
    quint8 processorStepping() const { return processorStepping_; }
    quint64 processorSignature() const { return processorSignature_; }
    bool isProcessorMultithreaded() const { return isProcessorMultithreaded_; }
    quint64 processorFrequency() const { return processorFrequency_; } // Hz
    // Bytes.
    quint64 sizeL1InstructionCache() const { return sizeL1InstructionCache_; }
    quint64 sizeL1DataCache() const { return sizeL1DataCache_; }
    quint64 sizeL2Cache() const { return sizeL2Cache_; }
    quint64 sizeL3Cache() const { return sizeL3Cache_; }
    quint64 sizeRAM() const { return sizeRAM_; }
    quint64 sizeOptimumFreeRAM() const { return sizeOptimumFreeRAM_; }
    quint64 sizeAddressableRAM() const { return sizeAddressableRAM_; }
    quint64 sizeAddressableVM() const { return sizeAddressableVM_; }
    QString systemModelCode() const { return systemModelCode_; }
    QString systemSerialNumber() const { return systemSerialNumber_; }
    QString logicBoardIdentifier() const { return logicBoardIdentifier_; }
    std::optional<QUuid> systemUUID() const { return systemUUID_; }
    QDateTime systemProductionDate() const { return systemProductionDate_; } // invalid: unknown
    QString systemMarketingName() const { return systemMarketingName_; }
    QString systemModelDescription() const { return systemModelDescription_; }
    QString computerName() const { return computerName_; }
    QString systemFirmwareVersion() const { return systemFirmwareVersion_; }
    QString systemManagementControllerVersion() const { return systemManagementControllerVersion_; }
    QString kernelVersionSpecification() const { return kernelVersionSpecification_; }
    qint64 kernelRevision() const { return kernelRevision_; }
    QString baseOperatingSystemName() const { return baseOperatingSystemName_; }
    QString baseOperatingSystemVersion() const { return baseOperatingSystemVersion_; }
    QString operatingSystemBuild() const { return operatingSystemBuild_; }
    QString localizedOSVersionString() const { return localizedOSVersionString_; }
    QVariantMap preReleaseOSInfo() const { return preReleaseOSInfo_; }
    QByteArray deviceColorData() const { return deviceColorData_; } // null: none
    bool mayNotReflectLocalMachine() const { return mayNotReflectLocalMachine_; }

    // From the local SMBIOS table (types 1 and 2), trimmed; empty for a description of another computer,
    // null when the table, the record or the entry is missing.
    QString systemVendor() const;
    QString mainboardSerialNumber() const;

    QString description() const;

    // --- Presentation texts (string table "MachineInfo") --------------------------------------------
    QString systemUUIDString() const; // null without a UUID
    QString systemModelPresentationString() const;
    QString baseOperatingSystemPresentationString() const;
    // The NAME of the os-release of the system this program runs on ("Debian GNU/Linux"), else its kernel
    // type, else "Linux".
    QString operatingSystemMarketingName() const;
    // The marketing name and the version text; the name is not repeated when the text starts with it.
    // Another computer's name comes from its description ("macOS" for a Mac's "Version 10.15.7 ..."; none
    // for os-release texts, which name their system).
    QString localizedOperatingSystemPresentationString() const;
    QString localizedProductionDate() const;
    QString localizedProcessorCountSummary() const;
    QString localizedProcessorTypeSummary() const;
    QString localizedSMTSupportDescription() const;
    QString localizedClockFrequencyDescription() const;
    QString localizedL1CacheDescription() const;
    QString localizedL2CacheDescription() const;
    QString localizedL3CacheDescription() const;
    QString localizedPhysicalMemoryDescription() const;
    QString localizedAddressableMemoryDescription() const;
    QString localizedBaseSystemAndKernelRevisionDescription() const;
    // "<model>@ECOLOR=<red>,<green>,<blue>" when the colour data is usable, else the model code.
    QString systemModelCodeWithColorSpecification() const;
    // Linux has no device-type declarations or model icons: both are null (a warning is logged once).
    QString deviceTypeCode() const;
    QByteArray imageDataForMachinePicture() const;
    // The last path component of "_LSIconPath"; null for a missing declaration or entry.
    static QString alternativeIconFileNameFromDeviceTypeDeclaration(const std::optional<QVariantMap>& declaration);
    // Colour data is usable when it is exactly 16 bytes: red byte 6, green byte 5, blue byte 4.
    static bool getEnclosureRed(quint8* red, quint8* green, quint8* blue, const QByteArray& deviceColorData);

    QString className() const override { return QStringLiteral("TEVMachineInfo"); }
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    struct Decoded {};
    explicit TEVMachineInfo(Decoded) {}
    void collect(const platform::HostRoot& root, const Registry& registry);
    void collectProcessor(const platform::HostRoot& root);
    void collectIdentity(const platform::HostRoot& root, const Registry& registry);
    void collectOperatingSystem(const platform::HostRoot& root);
    QString describedOperatingSystemName() const;

    quint64 processorCount_ = 0;
    quint64 activeProcessorCount_ = 0;
    quint64 processorChipCount_ = 0;
    quint64 physicalCoreCount_ = 0;
    QString processorVendor_;
    QString processorBrand_;
    quint8 processorFamilyCode_ = 0;
    quint8 processorModelCode_ = 0;
    quint8 processorStepping_ = 0;
    quint64 processorSignature_ = 0;
    bool isProcessorMultithreaded_ = false;
    quint64 processorFrequency_ = 0;
    quint64 sizeL1InstructionCache_ = 0;
    quint64 sizeL1DataCache_ = 0;
    quint64 sizeL2Cache_ = 0;
    quint64 sizeL3Cache_ = 0;
    quint64 sizeRAM_ = 0;
    quint64 sizeOptimumFreeRAM_ = 0;
    quint64 sizeAddressableRAM_ = 0;
    quint64 sizeAddressableVM_ = 0;
    QString systemModelCode_;
    QString systemSerialNumber_;
    QString logicBoardIdentifier_;
    std::optional<QUuid> systemUUID_;
    QDateTime systemProductionDate_;
    QString systemMarketingName_;
    QString systemModelDescription_;
    QString computerName_;
    QString systemFirmwareVersion_;
    QString systemManagementControllerVersion_;
    QString kernelVersionSpecification_;
    qint64 kernelRevision_ = 0;
    QString baseOperatingSystemName_;
    QString baseOperatingSystemVersion_;
    QString operatingSystemBuild_;
    QString localizedOSVersionString_;
    QVariantMap preReleaseOSInfo_;
    QByteArray deviceColorData_;
    bool mayNotReflectLocalMachine_ = false;
};
