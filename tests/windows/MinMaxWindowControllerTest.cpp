// The minimum/maximum rows with a fake controller: spans, missing values, extremes beyond any sentinel.

#include "windows/MinMaxWindowController.h"

#include "app/model/TEVGauge.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/PropertyList.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/support/FakeSensorSource.h"
#include "windows/HistoryTimeScale.h"
#include "tests/support/TestEnvironment.h"

#include <QLabel>
#include <QLocale>
#include <QSlider>
#include <QTableView>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using FakeSource = kelvaro::test::FakeSensorSource;

QByteArray raws(std::initializer_list<qint64> values)
{
    QByteArray data;
    for (const qint64 value : values)
        data.append(reinterpret_cast<const char*>(&value), sizeof value);
    return data;
}

class FakeLookups final : public ControllerLookups {
public:
    const QStringList& universalIdentifiersOfConnectedSensors() const override { return identifiers; }
    std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString& id) const override { return gauges.value(id); }
    QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime& date, const QString& id, bool longTerm) override
    {
        requests.append({date, longTerm});
        return histories.value(id);
    }
    double historyTimeDeltaForUniversalGaugeIdentifier(const QString&, bool) override { return 60; }
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const std::shared_ptr<MonitoringClient>&) const override
    {
        return {};
    }
    std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const std::shared_ptr<MonitoringClient>&) override
    {
        return std::nullopt;
    }
    MonitorPreferences* monitorPreferences() const override { return nullptr; }

    QStringList identifiers;
    QMap<QString, std::shared_ptr<TEVGauge>> gauges;
    QMap<QString, QByteArray> histories;
    QList<QPair<QDateTime, bool>> requests;
};

class MinMaxWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale::c());
        const auto plist = [](const QVariantMap& m) { return platform::writePropertyList(m, platform::PlistFormat::Xml); };
        kelvaro::test::writeFile(dir_.path() + "/Info.plist", plist({}));
        kelvaro::test::writeFile(dir_.path() + "/en.lproj/Localizable.strings", plist({{"C", "°C"}, {"F", "°F"}, {"rpm", "RPM"}}));
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir_.path()));
    }
    void TearDown() override
    {
        platform::Bundle::setMain(nullptr);
        TEVGauge::setPreferredTemperatureDisplayUnit(0);
    }
    void add(const QString& id, qint64 quantity, const QString& unit, const QByteArray& history)
    {
        sources_.append(std::make_shared<FakeSource>(quantity, unit));
        auto gauge = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("S1"), sources_.last());
        ASSERT_TRUE(gauge);
        gauge->setCustomName(id + QStringLiteral(" name"));
        lookups_.identifiers.append(id);
        lookups_.gauges.insert(id, gauge);
        lookups_.histories.insert(id, history);
    }
    QStringList row(const MinMaxWindowController& window, qsizetype r) const
    {
        QStringList texts;
        for (const QString& column : {MinMaxWindowController::kSensorColumn, MinMaxWindowController::kMinColumn,
                                      MinMaxWindowController::kMaxColumn})
            texts.append(window.objectValueForTableColumn(column, r));
        return texts;
    }

    QTemporaryDir dir_;
    QList<std::shared_ptr<FakeSource>> sources_;
    FakeLookups lookups_;
};

} // namespace

TEST(HistoryTimeScale, SpanIsPiecewiseLinearThroughTheSliderPositions)
{
    const std::pair<double, double> rows[] = {{1, 1}, {2, 3}, {3, 6}, {4, 12}, {4.5, 18}, {5, 24}, {6, 72}, {6.5, 120}, {7, 168}};
    for (const auto& [position, hours] : rows)
        EXPECT_DOUBLE_EQ(HistoryTimeScale::timeIntervalForSliderValue(position), hours * 3600) << position;
}

TEST_F(MinMaxWindowTest, RowsShowTheExtremesOfTheLongTermHistory)
{
    add(QStringLiteral("fan"), 6, QStringLiteral("rpm"), raws({-1, 200000, 150000, -1, 199900}));
    add(QStringLiteral("only-missing"), 6, QStringLiteral("rpm"), raws({-1, -1, -1}));
    add(QStringLiteral("empty"), 6, QStringLiteral("rpm"), QByteArray());
    // Hertz readings above 2·10^9: the lowest is a reading, not a sentinel.
    add(QStringLiteral("clock"), 13, QStringLiteral("Hz"), raws({300000000000, 310000000000}));
    add(QStringLiteral("temperature"), 1, QStringLiteral("C"), raws({4500, 5250}));
    lookups_.identifiers.append(QStringLiteral("no-gauge"));

    MinMaxWindowController window;
    window.updateWindow();
    EXPECT_EQ(window.numberOfRows(), 0) << "unbound";
    window.bindToApplicationController(&lookups_);
    window.window()->findChild<QSlider*>(QStringLiteral("timeScaleSlider"))->setValue(7000);
    EXPECT_DOUBLE_EQ(window.timeIntervalOfScaleSlider(), 604800);
    ASSERT_EQ(window.numberOfRows(), 6);

    const auto& fan = lookups_.gauges.value(QStringLiteral("fan"));
    const auto& clock = lookups_.gauges.value(QStringLiteral("clock"));
    const auto& temperature = lookups_.gauges.value(QStringLiteral("temperature"));
    const QStringList expected[] = {
        {"fan name", fan->localizedPresentationOfPresentationValue(1500), fan->localizedPresentationOfPresentationValue(2000)},
        {"only-missing name", "---", "---"},
        {"empty name", "---", "---"},
        {"clock name", clock->localizedPresentationOfPresentationValue(3e9), clock->localizedPresentationOfPresentationValue(3.1e9)},
        // Formatted exactly as its current value would be.
        {"temperature name", temperature->localizedPresentationOfPresentationValue(45), temperature->localizedPresentationOfPresentationValue(52.5)},
        {"---", "---", "---"},
    };
    for (qsizetype r = 0; r < 6; ++r)
        EXPECT_EQ(row(window, r), expected[r]) << r;
    EXPECT_NE(expected[0][1], "---");

    // The whole week before now, from the long-term history.
    ASSERT_FALSE(lookups_.requests.isEmpty());
    EXPECT_EQ(lookups_.requests.last().first, platform::currentDate().addSecs(-604800));
    EXPECT_TRUE(lookups_.requests.last().second);
    EXPECT_EQ(window.window()->findChild<QLabel*>(QStringLiteral("timeScaleField"))->text(),
              TEVTimeUtilities::localizedTextRepresentationForTimeInterval(604800));
    EXPECT_EQ(window.window()->findChild<QTableView*>(QStringLiteral("valueTable"))->model()->rowCount(), 6);
}

TEST_F(MinMaxWindowTest, TemperaturesFollowTheDisplayUnitAndTheSliderRecomputesAtOnce)
{
    add(QStringLiteral("temperature"), 1, QStringLiteral("C"), raws({4500, 5000}));
    TEVGauge::setPreferredTemperatureDisplayUnit(TEVGauge::Fahrenheit);
    MinMaxWindowController window;
    window.bindToApplicationController(&lookups_);
    window.window()->findChild<QSlider*>(QStringLiteral("timeScaleSlider"))->setValue(4500);
    const auto& gauge = lookups_.gauges.value(QStringLiteral("temperature"));
    EXPECT_EQ(row(window, 0)[1], gauge->localizedPresentationOfPresentationValue(113));
    EXPECT_EQ(row(window, 0)[2], gauge->localizedPresentationOfPresentationValue(122));
    EXPECT_EQ(lookups_.requests.last().first, platform::currentDate().addSecs(-18 * 3600));
}

TEST_F(MinMaxWindowTest, RowsBeyondTheCurrentGaugesShowNoValue)
{
    add(QStringLiteral("a"), 6, QStringLiteral("rpm"), raws({100}));
    add(QStringLiteral("b"), 6, QStringLiteral("rpm"), raws({200}));
    MinMaxWindowController window;
    window.bindToApplicationController(&lookups_);
    window.updateWindow();
    // A sensor vanished since the last update: its cached row stays until the next one, without a name.
    lookups_.identifiers.removeLast();
    EXPECT_EQ(row(window, 1)[0], "---");
    EXPECT_NE(row(window, 1)[1], "---");
    EXPECT_EQ(row(window, 5), (QStringList{"---", "---", "---"}));
    EXPECT_TRUE(window.objectValueForTableColumn(MinMaxWindowController::kMinColumn, -1).isNull());
    EXPECT_TRUE(window.objectValueForTableColumn(QStringLiteral("Other"), 0).isNull());
}
