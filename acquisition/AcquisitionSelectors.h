#pragma once
// The operations of TEVDataAcquisitionProtocol by wire selector, in their declared order, with how their
// arguments and results travel as boxed values. One table for the core's dispatcher, the remote proxy, the
// capture thread and the test peer, so a selector string is spelt in exactly one place. Constant data.

#include <QString>

#include <array>
#include <cstddef>

// How one argument or result crosses threads and the wire: scalars as number objects (a boolean, an
// unsigned or a signed integer, a double), everything else as an object of `resultClass`.
enum class AcquisitionValueKind { None, Bool, Count, Signed, Double, Object };

enum class AcquisitionOperation : int {
    IsRemote,
    VersionCode,
    HostName,
    IsLowAccessRatePolicyRecommended,
    SetSMCAccessPolicy,
    SetSMARTUpdateIntervalSaverInterval,
    SetLongTermHistoryUpdateInterval,
    SetHistoryAutosaveTimeInterval,
    SaveLongTermHistoryBuffers,
    NumberOfAvailableSensors,
    DisableLocalAccessToSensorWithIdentifier,
    AvailableSensorIdentifiers,
    SensorDescriptionForIdentifier,
    SensorValueConverterForIdentifier,
    CurrentRawValues,
    LongTermSensorHistoryWithIdentifier,
    SensorHistoryUpdateCount,
    MachineInfo,
    DataForMachinePresentationIcon,
    SmcVersion,
    SystemManagementDescription,
    LiveDiskSpindownValue,
    KnownMachineLimits,
    BlockStorageDeviceDescriptions,
    CompleteListOfSensorDescriptions,
    NumberOfAvailableBatteryUnits,
    BatteryReadoutsAtIndex,
    DisplayDescriptions,
    SmartUpdateInterval,
    LongTermUpdateInterval,
    AutosaveTimeInterval,
    RescanForSensors,
    SimulateFailure,
    Run,
    Stop,
    SetIsRemote,
    SetUserInfo,
    UserInfo,
};

struct AcquisitionSelector {
    AcquisitionOperation operation;
    const char* selector;
    AcquisitionValueKind arguments[2];
    AcquisitionValueKind result;
    // The class an object argument or result is expected to be of (or a subclass); null for scalars and
    // void. "NSObject" where any property-list value may come (userInfo).
    const char* objectClass;
    // Offered only by the local core; the remote proxy has none of these.
    bool optional;

    int argumentCount() const
    {
        return (arguments[0] != AcquisitionValueKind::None) + (arguments[1] != AcquisitionValueKind::None);
    }
    QLatin1String name() const { return QLatin1String(selector); }
};

namespace acquisitionselectors {

using K = AcquisitionValueKind;
using O = AcquisitionOperation;

inline constexpr std::array<AcquisitionSelector, 38> table{{
    {O::IsRemote, "isRemote", {K::None, K::None}, K::Bool, nullptr, false},
    {O::VersionCode, "versionCode", {K::None, K::None}, K::Count, nullptr, false},
    {O::HostName, "hostName", {K::None, K::None}, K::Object, "NSString", false},
    {O::IsLowAccessRatePolicyRecommended, "isLowAccessRatePolicyRecommended", {K::None, K::None}, K::Bool, nullptr,
     false},
    {O::SetSMCAccessPolicy, "setSMCAccessPolicy:", {K::Signed, K::None}, K::None, nullptr, false},
    {O::SetSMARTUpdateIntervalSaverInterval, "setSMARTUpdateInterval:saverInterval:", {K::Double, K::Count}, K::None,
     nullptr, false},
    {O::SetLongTermHistoryUpdateInterval, "setLongTermHistoryUpdateInterval:", {K::Double, K::None}, K::None, nullptr,
     false},
    {O::SetHistoryAutosaveTimeInterval, "setHistoryAutosaveTimeInterval:", {K::Count, K::None}, K::None, nullptr,
     false},
    {O::SaveLongTermHistoryBuffers, "saveLongTermHistoryBuffers", {K::None, K::None}, K::Bool, nullptr, false},
    {O::NumberOfAvailableSensors, "numberOfAvailableSensors", {K::None, K::None}, K::Count, nullptr, false},
    {O::DisableLocalAccessToSensorWithIdentifier, "disableLocalAccess:toSensorWithIdentifier:",
     {K::Bool, K::Object}, K::None, "NSString", false},
    {O::AvailableSensorIdentifiers, "availableSensorIdentifiers", {K::None, K::None}, K::Object, "NSArray", false},
    {O::SensorDescriptionForIdentifier, "sensorDescriptionForIdentifier:", {K::Object, K::None}, K::Object,
     "TEVSensorDescription", false},
    {O::SensorValueConverterForIdentifier, "sensorValueConverterForIdentifier:", {K::Object, K::None}, K::Object,
     "TEVSensorValueConverter", false},
    {O::CurrentRawValues, "currentRawValues", {K::None, K::None}, K::Object, "NSDictionary", false},
    {O::LongTermSensorHistoryWithIdentifier, "longTermSensorHistoryWithIdentifier:", {K::Object, K::None}, K::Object,
     "TEVSensorHistory", false},
    {O::SensorHistoryUpdateCount, "sensorHistoryUpdateCount", {K::None, K::None}, K::Count, nullptr, false},
    {O::MachineInfo, "machineInfo", {K::None, K::None}, K::Object, "TEVMachineInfo", false},
    {O::DataForMachinePresentationIcon, "dataForMachinePresentationIcon", {K::None, K::None}, K::Object, "NSData",
     false},
    {O::SmcVersion, "smcVersion", {K::None, K::None}, K::Object, "NSString", false},
    {O::SystemManagementDescription, "systemManagementDescription", {K::None, K::None}, K::Object, "NSArray", false},
    {O::LiveDiskSpindownValue, "liveDiskSpindownValue", {K::None, K::None}, K::Signed, nullptr, false},
    {O::KnownMachineLimits, "knownMachineLimits", {K::None, K::None}, K::Object, "NSDictionary", false},
    {O::BlockStorageDeviceDescriptions, "blockStorageDeviceDescriptions", {K::None, K::None}, K::Object, "NSArray",
     false},
    {O::CompleteListOfSensorDescriptions, "completeListOfSensorDescriptions", {K::None, K::None}, K::Object,
     "NSArray", false},
    {O::NumberOfAvailableBatteryUnits, "numberOfAvailableBatteryUnits", {K::None, K::None}, K::Count, nullptr, false},
    {O::BatteryReadoutsAtIndex, "batteryReadoutsAtIndex:", {K::Count, K::None}, K::Object, "NSDictionary", false},
    {O::DisplayDescriptions, "displayDescriptions", {K::None, K::None}, K::Object, "NSArray", false},
    {O::SmartUpdateInterval, "smartUpdateInterval", {K::None, K::None}, K::Double, nullptr, false},
    {O::LongTermUpdateInterval, "longTermUpdateInterval", {K::None, K::None}, K::Double, nullptr, false},
    {O::AutosaveTimeInterval, "autosaveTimeInterval", {K::None, K::None}, K::Count, nullptr, false},
    {O::RescanForSensors, "rescanForSensors", {K::None, K::None}, K::None, nullptr, false},
    {O::SimulateFailure, "simulateFailure", {K::None, K::None}, K::None, nullptr, false},
    {O::Run, "run", {K::None, K::None}, K::None, nullptr, true},
    {O::Stop, "stop", {K::None, K::None}, K::None, nullptr, true},
    {O::SetIsRemote, "setIsRemote:", {K::Bool, K::None}, K::None, nullptr, true},
    {O::SetUserInfo, "setUserInfo:", {K::Object, K::None}, K::None, "NSObject", true},
    {O::UserInfo, "userInfo", {K::None, K::None}, K::Object, "NSObject", true},
}};

// The row of an operation; the table is in enumeration order.
constexpr const AcquisitionSelector& of(AcquisitionOperation operation)
{
    return table[std::size_t(operation)];
}

// The row of a selector string, or null for one the protocol does not have.
inline const AcquisitionSelector* find(QStringView selector)
{
    for (const auto& row : table) {
        if (selector == row.name())
            return &row;
    }
    return nullptr;
}

inline const char* selectorOf(AcquisitionOperation operation)
{
    return of(operation).selector;
}

} // namespace acquisitionselectors
