#pragma once
// The only path to the System Management Controller: reads key values through a 1 s cache and decodes them
// by type code; never writes. Owns its SMC connection; the shared controller lives for the run and is used
// from the capture thread only (no locks).
//
// The connection is injected: on Linux the "AppleSMC" registry entry supplies "smc-version" but no user
// client, so makeConnection() picks the simulated computer's table when one is selected, else the kernel's.

#include "platform/hardware/SmcConnection.h"
#include "sensors/TEVIORegistryEntry.h"
#include "sensors/TEVSMCCachedValue.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <vector>

class TEVSystemManagementController {
public:
    using List = std::vector<std::shared_ptr<TEVSystemManagementController>>;

    static List availableSystemManagementControllers(TEVIORegistryEntry::Registry registry = nullptr);
    static std::shared_ptr<TEVSystemManagementController> sharedSystemManagementController();
    static void setAccessPolicy(qint64) {}
    static qint64 accessPolicy() { return 1; }
    static bool isLowAccessRatePolicyRecommended() { return true; }
    // Emulated for a selected simulated computer (null when it has no SMC), else the Linux backend.
    static std::unique_ptr<platform::SmcConnection> makeConnection();

    // Null without "smc-version", when the connection does not open, or when "TC0D" is implausible.
    static std::shared_ptr<TEVSystemManagementController>
    createWithIORegistryEntry(std::shared_ptr<TEVIORegistryEntry> entry,
                              std::unique_ptr<platform::SmcConnection> connection);
    TEVSystemManagementController() = default;
    ~TEVSystemManagementController();
    TEVSystemManagementController(const TEVSystemManagementController&) = delete;
    TEVSystemManagementController& operator=(const TEVSystemManagementController&) = delete;

    QString versionNumber() const;
    QStringList allPropertyKeys();
    QVariant objectValueForPropertyWithKey(const QString& key);
    QString typeCodeForPropertyWithKey(const QString& key);
    QString descriptionForPropertyWithKey(const QString& key);
    double precisionForPropertyWithKey(const QString& key);
    bool getValue(_TEVSMCValue* value, quint32 key);

    static quint32 fourCharCodeForKeyString(const QString& text);
    static QString stringForFourCharCode(quint32 code);
    // Invalid QVariant for no record or size 0; a bool, qint64, double, QString or QByteArray otherwise.
    static QVariant objectValueForSMCValue(const _TEVSMCValue* value);
    // "nil" for no record; null when the value decodes to nothing.
    static QString descriptionForSMCValue(const _TEVSMCValue* value);
    // "%02x " per byte; null for null data.
    static QString readableHexStringForData(const QByteArray& data);
    static float divisorForFixPointCode(quint32 code);

private:
    std::shared_ptr<TEVIORegistryEntry> registryEntry_;
    std::unique_ptr<platform::SmcConnection> serviceConnection_;
    QHash<quint32, TEVSMCCachedValue> valueCache_;
};
