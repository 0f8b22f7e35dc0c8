#include "acquisition/TEVAcquisitionDispatch.h"

#include "acquisition/TEVDataAcquisitionProtocol.h"
#include "acquisition/TEVSensorHistory.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

namespace values = platform::values;

namespace acquisitiondispatch {

namespace {

using K = AcquisitionValueKind;
using O = AcquisitionOperation;

bool boolArg(const QVariantList& a, int i)
{
    return i < a.size() && values::toBool(a.at(i)).value_or(false);
}

qint64 signedArg(const QVariantList& a, int i)
{
    return i < a.size() ? values::toSigned(a.at(i)).value_or(0) : 0;
}

quint64 countArg(const QVariantList& a, int i)
{
    return i < a.size() ? values::toUnsigned(a.at(i)).value_or(0) : 0;
}

double doubleArg(const QVariantList& a, int i)
{
    return i < a.size() ? values::toReal(a.at(i)).value_or(0.0) : 0.0;
}

QString stringArg(const QVariantList& a, int i)
{
    return i < a.size() ? values::toString(a.at(i)).value_or(QString()) : QString();
}

template<typename T>
QVariant object(const std::shared_ptr<T>& value)
{
    return values::fromObject(std::const_pointer_cast<std::remove_const_t<T>>(value));
}

template<typename T>
QVariant optional(const std::optional<T>& value)
{
    return value ? QVariant(*value) : QVariant();
}

} // namespace

QVariant emptyResult(const AcquisitionSelector& row)
{
    switch (row.result) {
    case K::Bool:
        return values::fromBool(false);
    case K::Count:
        return values::fromUnsigned(0);
    case K::Signed:
        return values::fromSigned(0);
    case K::Double:
        return values::fromReal(0.0);
    case K::None:
    case K::Object:
        break;
    }
    return {};
}

QVariant box(AcquisitionValueKind kind, const QVariant& value)
{
    switch (kind) {
    case K::Bool:
        return values::fromBool(values::toBool(value).value_or(false));
    case K::Count:
        return values::fromUnsigned(values::toUnsigned(value).value_or(0));
    case K::Signed:
        return values::fromSigned(values::toSigned(value).value_or(0));
    case K::Double:
        return values::fromReal(values::toReal(value).value_or(0.0));
    case K::None:
    case K::Object:
        break;
    }
    return value;
}

QVariant perform(TEVDataAcquisitionProtocol* centre, const AcquisitionSelector& row, const QVariantList& a)
{
    if (!centre || (row.optional && !centre->respondsToOptionalOperations()))
        return emptyResult(row);
    TEVDataAcquisitionProtocol& c = *centre;
    switch (row.operation) {
    case O::IsRemote:
        return values::fromBool(c.isRemote());
    case O::VersionCode:
        return values::fromUnsigned(c.versionCode());
    case O::HostName: {
        const QString name = c.hostName();
        return name.isNull() ? QVariant() : values::fromString(name);
    }
    case O::IsLowAccessRatePolicyRecommended:
        return values::fromBool(c.isLowAccessRatePolicyRecommended());
    case O::SetSMCAccessPolicy:
        c.setSMCAccessPolicy(signedArg(a, 0));
        return {};
    case O::SetSMARTUpdateIntervalSaverInterval:
        c.setSMARTUpdateInterval(doubleArg(a, 0), countArg(a, 1));
        return {};
    case O::SetLongTermHistoryUpdateInterval:
        c.setLongTermHistoryUpdateInterval(doubleArg(a, 0));
        return {};
    case O::SetHistoryAutosaveTimeInterval:
        c.setHistoryAutosaveTimeInterval(countArg(a, 0));
        return {};
    case O::SaveLongTermHistoryBuffers:
        return values::fromBool(c.saveLongTermHistoryBuffers());
    case O::NumberOfAvailableSensors:
        return values::fromUnsigned(c.numberOfAvailableSensors());
    case O::DisableLocalAccessToSensorWithIdentifier:
        c.disableLocalAccess(boolArg(a, 0), stringArg(a, 1));
        return {};
    case O::AvailableSensorIdentifiers: {
        QVariantList identifiers;
        for (const QString& identifier : c.availableSensorIdentifiers())
            identifiers.append(values::fromString(identifier));
        return values::fromArray(identifiers);
    }
    case O::SensorDescriptionForIdentifier:
        return object(c.sensorDescriptionForIdentifier(stringArg(a, 0)));
    case O::SensorValueConverterForIdentifier:
        return object(c.sensorValueConverterForIdentifier(stringArg(a, 0)));
    case O::CurrentRawValues:
        return values::fromDictionary(c.currentRawValues());
    case O::LongTermSensorHistoryWithIdentifier:
        return object(c.longTermSensorHistoryWithIdentifier(stringArg(a, 0)));
    case O::SensorHistoryUpdateCount:
        return values::fromUnsigned(c.sensorHistoryUpdateCount());
    case O::MachineInfo:
        return object(c.machineInfo());
    case O::DataForMachinePresentationIcon: {
        const QByteArray icon = c.dataForMachinePresentationIcon();
        return icon.isNull() ? QVariant() : values::fromData(icon);
    }
    case O::SmcVersion: {
        const QString version = c.smcVersion();
        return version.isNull() ? QVariant() : values::fromString(version);
    }
    case O::SystemManagementDescription:
        return optional(c.systemManagementDescription());
    case O::LiveDiskSpindownValue:
        return values::fromSigned(c.liveDiskSpindownValue());
    case O::KnownMachineLimits:
        return optional(c.knownMachineLimits());
    case O::BlockStorageDeviceDescriptions:
        return values::fromArray(c.blockStorageDeviceDescriptions());
    case O::CompleteListOfSensorDescriptions: {
        QVariantList descriptions;
        for (const auto& description : c.completeListOfSensorDescriptions()) {
            if (description)
                descriptions.append(object(description));
        }
        return values::fromArray(descriptions);
    }
    case O::NumberOfAvailableBatteryUnits:
        return values::fromUnsigned(c.numberOfAvailableBatteryUnits());
    case O::BatteryReadoutsAtIndex:
        return optional(c.batteryReadoutsAtIndex(countArg(a, 0)));
    case O::DisplayDescriptions:
        return values::fromArray(c.displayDescriptions());
    case O::SmartUpdateInterval:
        return values::fromReal(c.smartUpdateInterval());
    case O::LongTermUpdateInterval:
        return values::fromReal(c.longTermUpdateInterval());
    case O::AutosaveTimeInterval:
        return values::fromUnsigned(c.autosaveTimeInterval());
    case O::RescanForSensors:
        c.rescanForSensors();
        return {};
    case O::SimulateFailure:
        c.simulateFailure();
        return {};
    case O::Run:
        c.run();
        return {};
    case O::Stop:
        c.stop();
        return {};
    case O::SetIsRemote:
        c.setIsRemote(boolArg(a, 0));
        return {};
    case O::SetUserInfo:
        c.setUserInfo(a.value(0));
        return {};
    case O::UserInfo:
        return c.userInfo();
    }
    return emptyResult(row);
}

} // namespace acquisitiondispatch
