#pragma once
// TEVRemoteKelvaroClient: the acquisition centre of a capture thread that monitors a remote computer. Each
// operation is one remote call (selector, boxed arguments and expected class from AcquisitionSelectors.h)
// and blocks its thread, running the run loop, until the reply or the time-out; a failed call answers nil,
// 0, NO or 0.0 and the failure is posted by TEVInvocationClient. Owned (shared_ptr) by its capture thread
// and used only there.

#include "acquisition/AcquisitionSelectors.h"
#include "acquisition/TEVDataAcquisitionProtocol.h"
#include "acquisition/TEVInvocationClient.h"

class TEVRemoteKelvaroClient final : public TEVInvocationClient, public TEVDataAcquisitionProtocol {
public:
    // No single reply line may be longer than this.
    static constexpr quint64 InputBufferSize = 2097152;

    static std::shared_ptr<TEVRemoteKelvaroClient> createWithNetService(const platform::NetService& service);
    static std::shared_ptr<TEVRemoteKelvaroClient> createWithHostSpecifier(const QString& host, quint64 port);

    // The remote call of one protocol row with its arguments boxed by the row's kinds; nil for a failed
    // call or one without result.
    QVariant perform(const AcquisitionSelector& row, const QVariantList& arguments = {});

    bool isRemote() const override;
    quint64 versionCode() const override;
    QString hostName() const override;
    bool isLowAccessRatePolicyRecommended() const override;
    void setSMCAccessPolicy(qint64 policy) override;
    void setSMARTUpdateInterval(double interval, quint64 saverInterval) override;
    void setLongTermHistoryUpdateInterval(double seconds) override;
    void setHistoryAutosaveTimeInterval(quint64 minutes) override;
    bool saveLongTermHistoryBuffers() override;
    quint64 numberOfAvailableSensors() const override;
    // Sends nothing: local access is a matter of the remote computer.
    void disableLocalAccess(bool disable, const QString& identifier) override;
    QStringList availableSensorIdentifiers() const override;
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& identifier) const override;
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& identifier) const override;
    QVariantMap currentRawValues() override;
    std::shared_ptr<TEVSensorHistory> longTermSensorHistoryWithIdentifier(const QString& identifier) const override;
    quint64 sensorHistoryUpdateCount() const override;
    std::shared_ptr<const TEVMachineInfo> machineInfo() const override;
    QByteArray dataForMachinePresentationIcon() const override;
    QString smcVersion() const override;
    std::optional<QVariantList> systemManagementDescription() const override;
    qint64 liveDiskSpindownValue() const override;
    std::optional<QVariantMap> knownMachineLimits() const override;
    QVariantList blockStorageDeviceDescriptions() const override;
    QList<std::shared_ptr<TEVSensorDescription>> completeListOfSensorDescriptions() const override;
    quint64 numberOfAvailableBatteryUnits() const override;
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) const override;
    QVariantList displayDescriptions() const override;
    double smartUpdateInterval() const override;
    double longTermUpdateInterval() const override;
    quint64 autosaveTimeInterval() const override;
    void rescanForSensors() override;
    void simulateFailure() override;

    // The proxy's connections trace nothing.
    void connectionLogWithFormat(TEVRemoteCommandConnection& connection, const QString& line) override;

    QString className() const override { return QStringLiteral("TEVRemoteKelvaroClient"); }

private:
    friend class TEVInvocationClient;
    TEVRemoteKelvaroClient();

    // The protocol is answered on the capture thread alone, so a const operation may still talk.
    QVariant call(AcquisitionOperation operation, const QVariantList& arguments = {}) const;
};
