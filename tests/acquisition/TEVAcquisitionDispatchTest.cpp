#include "acquisition/TEVAcquisitionDispatch.h"
#include "acquisition/TEVDataAcquisitionProtocol.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"

#include <gtest/gtest.h>

namespace values = platform::values;
using K = AcquisitionValueKind;

namespace {

// Records which operation ran and with which arguments; answers distinct non-zero values.
class RecordingCentre final : public TEVDataAcquisitionProtocol {
public:
    explicit RecordingCentre(bool optional)
        : optional_(optional)
    {
    }
    mutable QString called;
    mutable QVariantList received;

    bool isRemote() const override { return note("isRemote"), true; }
    quint64 versionCode() const override { return note("versionCode"), 1360; }
    QString hostName() const override { return note("hostName"), QStringLiteral("lab"); }
    bool isLowAccessRatePolicyRecommended() const override { return note("isLowAccessRatePolicyRecommended"), true; }
    void setSMCAccessPolicy(qint64 p) override { note("setSMCAccessPolicy:", {p}); }
    void setSMARTUpdateInterval(double i, quint64 s) override
    {
        note("setSMARTUpdateInterval:saverInterval:", {i, s});
    }
    void setLongTermHistoryUpdateInterval(double s) override { note("setLongTermHistoryUpdateInterval:", {s}); }
    void setHistoryAutosaveTimeInterval(quint64 m) override { note("setHistoryAutosaveTimeInterval:", {m}); }
    bool saveLongTermHistoryBuffers() override { return note("saveLongTermHistoryBuffers"), true; }
    quint64 numberOfAvailableSensors() const override { return note("numberOfAvailableSensors"), 7; }
    void disableLocalAccess(bool d, const QString& id) override
    {
        note("disableLocalAccess:toSensorWithIdentifier:", {d, id});
    }
    QStringList availableSensorIdentifiers() const override
    {
        return note("availableSensorIdentifiers"), QStringList{QStringLiteral("a")};
    }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& id) const override
    {
        return note("sensorDescriptionForIdentifier:", {id}), nullptr;
    }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& id) const override
    {
        return note("sensorValueConverterForIdentifier:", {id}), nullptr;
    }
    QVariantMap currentRawValues() override
    {
        return note("currentRawValues"), QVariantMap{{QStringLiteral("a"), values::fromSigned(-1)}};
    }
    std::shared_ptr<TEVSensorHistory> longTermSensorHistoryWithIdentifier(const QString& id) const override
    {
        return note("longTermSensorHistoryWithIdentifier:", {id}), nullptr;
    }
    quint64 sensorHistoryUpdateCount() const override { return note("sensorHistoryUpdateCount"), 3; }
    std::shared_ptr<const TEVMachineInfo> machineInfo() const override { return note("machineInfo"), nullptr; }
    QByteArray dataForMachinePresentationIcon() const override
    {
        return note("dataForMachinePresentationIcon"), QByteArray();
    }
    QString smcVersion() const override { return note("smcVersion"), QString(); }
    std::optional<QVariantList> systemManagementDescription() const override
    {
        return note("systemManagementDescription"), std::nullopt;
    }
    qint64 liveDiskSpindownValue() const override { return note("liveDiskSpindownValue"), -5; }
    std::optional<QVariantMap> knownMachineLimits() const override
    {
        return note("knownMachineLimits"), QVariantMap{};
    }
    QVariantList blockStorageDeviceDescriptions() const override
    {
        return note("blockStorageDeviceDescriptions"), QVariantList{};
    }
    QList<std::shared_ptr<TEVSensorDescription>> completeListOfSensorDescriptions() const override
    {
        return note("completeListOfSensorDescriptions"), QList<std::shared_ptr<TEVSensorDescription>>{nullptr};
    }
    quint64 numberOfAvailableBatteryUnits() const override { return note("numberOfAvailableBatteryUnits"), 2; }
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 i) const override
    {
        return note("batteryReadoutsAtIndex:", {i}), std::nullopt;
    }
    QVariantList displayDescriptions() const override { return note("displayDescriptions"), QVariantList{}; }
    double smartUpdateInterval() const override { return note("smartUpdateInterval"), 30.5; }
    double longTermUpdateInterval() const override { return note("longTermUpdateInterval"), 60.5; }
    quint64 autosaveTimeInterval() const override { return note("autosaveTimeInterval"), 15; }
    void rescanForSensors() override { note("rescanForSensors"); }
    void simulateFailure() override { note("simulateFailure"); }
    bool respondsToOptionalOperations() const override { return optional_; }
    void run() override { note("run"); }
    void stop() override { note("stop"); }
    void setIsRemote(bool r) override { note("setIsRemote:", {r}); }
    void setUserInfo(const QVariant& u) override { note("setUserInfo:", {u}); }
    QVariant userInfo() const override { return note("userInfo"), QStringLiteral("Kelvaro"); }

private:
    void note(const char* selector, const QVariantList& arguments = {}) const
    {
        called = QLatin1String(selector);
        received = arguments;
    }
    bool optional_;
};

QVariant sampleArgument(K kind)
{
    switch (kind) {
    case K::Bool:
        return values::fromBool(true);
    case K::Count:
        return values::fromUnsigned(9);
    case K::Signed:
        return values::fromSigned(-4);
    case K::Double:
        return values::fromReal(2.5);
    case K::Object:
        return values::fromString(QStringLiteral("TC0P"));
    case K::None:
        break;
    }
    return {};
}

values::Kind boxedKind(K kind)
{
    switch (kind) {
    case K::Bool:
        return values::Kind::Bool;
    case K::Count:
        return values::Kind::Unsigned;
    case K::Signed:
        return values::Kind::Signed;
    case K::Double:
        return values::Kind::Real;
    case K::None:
    case K::Object:
        break;
    }
    return values::Kind::Invalid;
}

} // namespace

TEST(AcquisitionDispatch, EveryOperationReachesItsOwnMethodWithItsArgumentsInOrder)
{
    RecordingCentre centre(true);
    for (const auto& row : acquisitionselectors::table) {
        SCOPED_TRACE(row.selector);
        QVariantList arguments;
        for (int i = 0; i < row.argumentCount(); ++i)
            arguments.append(sampleArgument(row.arguments[i]));
        centre.called.clear();
        const QVariant result = acquisitiondispatch::perform(&centre, row, arguments);
        EXPECT_EQ(centre.called, row.name());
        ASSERT_EQ(centre.received.size(), arguments.size());
        for (int i = 0; i < arguments.size(); ++i)
            EXPECT_EQ(centre.received.at(i).toString(), arguments.at(i).toString()) << "argument " << i;
        if (row.result == K::None) {
            EXPECT_FALSE(result.isValid());
        } else if (row.result != K::Object) {
            EXPECT_EQ(values::kindOf(result), boxedKind(row.result));
        }
    }
}

TEST(AcquisitionDispatch, NullCentreAndMissingOptionalOperationsGiveEmptyResults)
{
    RecordingCentre withoutOptional(false);
    for (const auto& row : acquisitionselectors::table) {
        SCOPED_TRACE(row.selector);
        const QVariant empty = acquisitiondispatch::perform(nullptr, row, {});
        EXPECT_TRUE(values::strictlyEqual(empty, acquisitiondispatch::emptyResult(row)));
        if (row.result != K::None && row.result != K::Object) {
            EXPECT_EQ(values::toReal(empty), 0.0);
        }
        if (row.optional) {
            withoutOptional.called.clear();
            acquisitiondispatch::perform(&withoutOptional, row, {sampleArgument(row.arguments[0])});
            EXPECT_TRUE(withoutOptional.called.isEmpty());
        }
    }
}

TEST(AcquisitionDispatch, ArgumentsOfTheWrongKindReadAsZero)
{
    RecordingCentre centre(true);
    const auto& row = acquisitionselectors::of(AcquisitionOperation::SetSMARTUpdateIntervalSaverInterval);
    acquisitiondispatch::perform(&centre, row, {values::fromString(QStringLiteral("30")), values::fromSigned(-2)});
    ASSERT_EQ(centre.received.size(), 2);
    EXPECT_EQ(centre.received.at(0).toDouble(), 0.0);
    EXPECT_EQ(centre.received.at(1).toULongLong(), 0u);

    acquisitiondispatch::perform(&centre, acquisitionselectors::of(AcquisitionOperation::BatteryReadoutsAtIndex), {});
    EXPECT_EQ(centre.received.value(0).toULongLong(), 0u);
}

TEST(AcquisitionDispatch, ObjectResultsKeepNilAndDropNullEntries)
{
    RecordingCentre centre(true);
    const auto perform = [&](AcquisitionOperation op) {
        return acquisitiondispatch::perform(&centre, acquisitionselectors::of(op), {values::fromString("x")});
    };
    EXPECT_FALSE(perform(AcquisitionOperation::SmcVersion).isValid());
    EXPECT_FALSE(perform(AcquisitionOperation::SystemManagementDescription).isValid());
    EXPECT_FALSE(perform(AcquisitionOperation::MachineInfo).isValid());
    EXPECT_EQ(values::kindOf(perform(AcquisitionOperation::KnownMachineLimits)), values::Kind::Dictionary);
    EXPECT_EQ(values::toArray(perform(AcquisitionOperation::CompleteListOfSensorDescriptions))->size(), 0);
    EXPECT_EQ(values::toArray(perform(AcquisitionOperation::AvailableSensorIdentifiers)),
              QVariantList{QStringLiteral("a")});
}

TEST(AcquisitionDispatch, BoxConvertsToTheKindAndPassesObjects)
{
    EXPECT_EQ(values::kindOf(acquisitiondispatch::box(K::Count, values::fromSigned(3))), values::Kind::Unsigned);
    EXPECT_EQ(values::kindOf(acquisitiondispatch::box(K::Double, values::fromSigned(3))), values::Kind::Real);
    EXPECT_EQ(acquisitiondispatch::box(K::Bool, values::fromString("yes")).toBool(), false);
    EXPECT_EQ(acquisitiondispatch::box(K::Object, values::fromString("yes")).toString(), QStringLiteral("yes"));
}
