#include "app/model/TEVGauge.h"

#include "app/model/OutputCacheEntry.h"
#include "framework/CDP.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/support/TestEnvironment.h"

#include <QHash>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr double kMissing = TEVGauge::missingValue;

class UnitSensor : public TEVSensor {
public:
    QString unit() const override { return unit_; }
    QString unit_;
};

// A computer with one sensor "S1" whose raw values are hundredths of the unit.
class FakeSource final : public TEVSensorSource {
public:
    FakeSource(qint64 quantity, double precision, const QString& unit)
    {
        UnitSensor sensor;
        sensor.setUniqueIdentifier(QStringLiteral("S1"));
        sensor.setLocationIdentifier(QStringLiteral("CPU Core"));
        sensor.setQuantityType(quantity);
        sensor.setSensorType(1);
        sensor.setPrecision(precision, 0.5);
        sensor.unit_ = unit;
        description = sensor.configurationDescription();
        converter = std::make_shared<TEVSensorValueConverter>();
        converter->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
        converter->setLinearFactor(0.01);
    }
    QString clientIdentification() const override { return QStringLiteral("C02\\DX"); }
    QString machineSerialNumber() override { return serial; }
    QString machineName() override { return QStringLiteral("Test computer"); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& id) override
    {
        return id == "S1" ? description : nullptr;
    }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& id) override
    {
        return id == "S1" ? converter : nullptr;
    }
    qint64 cachedRawValueWithIdentifier(const QString&) override { return raw; }
    void disableLocalAccess(bool disable, const QString& id) override { disableCalls.append({disable, id}); }

    QString serial = QStringLiteral("C02.X");
    std::shared_ptr<TEVSensorDescription> description;
    std::shared_ptr<TEVSensorValueConverter> converter;
    qint64 raw = 4500;
    QList<QPair<bool, QString>> disableCalls;
};

class TEVGaugeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The texts expected below have a decimal point, whatever the locale the tests run under.
        QLocale::setDefault(QLocale::c());
        const auto plist = [](const QVariantMap& m) {
            return platform::writePropertyList(m, platform::PlistFormat::Xml);
        };
        kelvaro::test::writeFile(dir_.path() + "/Info.plist", plist({}));
        kelvaro::test::writeFile(dir_.path() + "/en.lproj/Localizable.strings",
                                 plist({{"C", "°C"}, {"F", "°F"}, {"rpm", "RPM"}, {"Processor core", "CPU core"},
                                        {"PLUSMINUS %02.4f %@", "± %02.4f %@"}}));
        kelvaro::test::writeFile(dir_.path() + "/en.lproj/SensorLocations.strings",
                                 plist({{"CPU Core", "Processor core"}}));
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir_.path()));
    }
    void TearDown() override
    {
        platform::Bundle::setMain(nullptr);
        TEVGauge::setPreferredTemperatureDisplayUnit(0);
        QLocale::setDefault(QLocale::c());
    }
    static std::shared_ptr<TEVGauge> gauge(const std::shared_ptr<FakeSource>& source)
    {
        return TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("S1"), source);
    }
    static std::shared_ptr<FakeSource> temperature() { return std::make_shared<FakeSource>(1, 0.25, "C"); }
    static std::shared_ptr<FakeSource> fan() { return std::make_shared<FakeSource>(6, 1.0, "rpm"); }

    QTemporaryDir dir_;
};

} // namespace

TEST_F(TEVGaugeTest, NewGaugeTakesNamesFromTheSensorLocation)
{
    const auto source = temperature();
    const auto g = gauge(source);
    ASSERT_TRUE(g);
    EXPECT_TRUE(g->isReadyAndConnected());
    EXPECT_EQ(g->serialNumberOfMachine(), "C02.X");
    EXPECT_EQ(g->customName(), "CPU core");
    EXPECT_EQ(g->spokenName(), "CPU core");
    EXPECT_EQ(g->shortName(), "CPU C");
    EXPECT_EQ(g->presentedLocation(), "Processor core");
    EXPECT_EQ(g->machineName(), "Test computer");
    EXPECT_EQ(g->formatTag(), 1);
    EXPECT_TRUE(g->isEnabledHighThresholdAlert());
    EXPECT_FALSE(g->isEnabledLowThresholdAlert());
    EXPECT_EQ(g->presentationColor()->whiteLevel(), 0.0f);
}

TEST_F(TEVGaugeTest, NewGaugeNeedsIdentifierClientSerialDescriptionAndConverter)
{
    EXPECT_FALSE(TEVGauge::createForSensorIdentifierConnectingToClient(QString(), temperature()));
    EXPECT_FALSE(TEVGauge::createForSensorIdentifierConnectingToClient("S1", nullptr));
    EXPECT_FALSE(TEVGauge::createForSensorIdentifierConnectingToClient("S2", temperature()));
    auto noSerial = temperature();
    noSerial->serial = QString();
    EXPECT_FALSE(gauge(noSerial));
    auto noConverter = temperature();
    noConverter->converter.reset();
    EXPECT_FALSE(gauge(noConverter));
}

TEST_F(TEVGaugeTest, FormatTagAndThresholdsFollowQuantityPrecisionAndDisplayUnit)
{
    struct Row { qint64 quantity; double precision; qint64 unit; qint64 tag; double low; double high; };
    const Row rows[] = {
        {1, 1.0, 0, 0, 10.0, 75.0},     {1, 0.25, 1, 1, 50.0, 167.0},  {1, 0.25, 2, 1, 283.15, 348.15},
        {1, 0.25, 3, 1, 10.0, 75.0},    {1, 0.25, 4, 1, 50.0, 167.0},  {1, 0.25, 9, 1, 283.15, 348.15},
        {6, 0.25, 1, 0, 100.0, 10000.0}, {2, 0.01, 1, 4, 1.0, 13.0},   {10, 0.5, 0, 1, 1.0, 0.0},
        {3, 0.5, 0, 2, 0.0, 100.0},     {4, 0.5, 0, 1, 0.0, 10000.0},  {5, 0.5, 0, 0, 0.0, 10000.0},
        {7, 0.5, 0, 1, 0.0, 100.0},     {8, 0.5, 0, 0, 0.0, 10000.0},  {9, 0.5, 0, 0, 0.0, 70.0},
        {11, 0.5, 0, 0, 1.0, 1.0},      {12, 0.5, 0, 0, 0.0, 0.0},     {13, 0.5, 0, 0, 0.0, 0.0},
        {42, 0.5, 0, 0, 0.0, 0.0},      {3, 1.0, 0, 0, 0.0, 100.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "quantity " << row.quantity << " unit " << row.unit);
        TEVGauge::setPreferredTemperatureDisplayUnit(row.unit);
        const auto g = gauge(std::make_shared<FakeSource>(row.quantity, row.precision, "x"));
        ASSERT_TRUE(g);
        EXPECT_EQ(g->formatTag(), row.tag);
        EXPECT_DOUBLE_EQ(g->lowThreshold(), row.low);
        EXPECT_DOUBLE_EQ(g->highThreshold(), row.high);
    }
}

TEST_F(TEVGaugeTest, PreferenceDictionaryRoundTripsEverySetting)
{
    const auto original = gauge(fan());
    original->setCustomName("Fan");
    original->setShortName("F");
    original->setSpokenName("the fan");
    original->setFormatTag(3);
    original->setPresentationColor(platform::Color::rgb(platform::Color::Space::CalibratedRGB, 0.25f, 0.5f, 1.0f));
    original->enableLowThresholdAlert(true);
    original->enableHighThresholdAlert(false);
    original->setLowThreshold(300.5);
    original->setHighThreshold(5000.0);
    original->setEnabled(false);
    original->setAlertState(true);
    const QVariantMap stored = original->preferenceDictionary();
    EXPECT_EQ(stored.keys(), QStringList({"Color", "CustomName", "FormatStyle", "HighThreshold", "HighTriggerEnabled",
                                          "LowThreshold", "LowTriggerEnabled", "MachineSerial", "QuantityType",
                                          "SensorEnabled", "ShortName", "SpokenName"}));

    const auto read = TEVGauge::createForSensorIdentifierPreferenceDictionary("S1", stored);
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->connectedMonitoringClient());
    EXPECT_EQ(read->description(), QString(original->description()).replace("connected: YES", "connected: NO")
                                       .replace(QRegularExpression("sensor description: .* custom"),
                                                "sensor description: - custom"));
    EXPECT_FALSE(read->isInAlertState());
    EXPECT_EQ(read->presentationColor()->blue(), 1.0f);
}

TEST_F(TEVGaugeTest, StoredGaugeFillsAbsentKeysAndClampsTheFormat)
{
    struct Row { QVariant formatStyle; qint64 tag; };
    for (const Row& row : {Row{qint64(7), 4}, Row{qint64(-2), 0}, Row{QVariant(), 1}, Row{"3", 1}}) {
        QVariantMap stored{{"CustomName", "Fan"}};
        if (row.formatStyle.isValid())
            stored.insert("FormatStyle", row.formatStyle);
        const auto g = TEVGauge::createForSensorIdentifierPreferenceDictionary("S1", stored);
        ASSERT_TRUE(g);
        EXPECT_EQ(g->formatTag(), row.tag);
        EXPECT_EQ(g->spokenName(), "Fan");
        EXPECT_TRUE(g->shortName().isNull());
        EXPECT_EQ(g->serialNumberOfMachine(), TEVMachineInfo::sharedMachineInfo()->systemSerialNumber());
        EXPECT_TRUE(g->isEnabled());
        EXPECT_EQ(g->highThreshold(), 9999.0);
    }
    EXPECT_TRUE(kelvaro::test::log().contains("TEVGauge: FormatStyle of gauge S1 has the wrong type"));

    // A colour the original platform's non-keyed archiver wrote: device RGB (7, 54, 66) / 255.
    const QByteArray solarized = kelvaro::test::readFile(
        kelvaro::test::testDataPath("archives/terminal-profiles/Solarized_Dark_2011-03-22.blackColour.typedstream"));
    const auto real = TEVGauge::createForSensorIdentifierPreferenceDictionary("S1", QVariantMap{{"Color", solarized}});
    ASSERT_TRUE(real);
    EXPECT_EQ(real->presentationColor()->colorSpace(), platform::Color::Space::DeviceRGB);
    EXPECT_FLOAT_EQ(real->presentationColor()->green(), 54.0f / 255.0f);
    EXPECT_EQ(real->preferenceDictionary().value("Color").toByteArray(), solarized);

    const auto badColor = TEVGauge::createForSensorIdentifierPreferenceDictionary(
        "S1", QVariantMap{{"Color", QByteArray("not an archive")}});
    ASSERT_TRUE(badColor);
    EXPECT_EQ(badColor->presentationColor()->whiteLevel(), 0.0f);
    EXPECT_TRUE(kelvaro::test::log().contains("TEVGauge: the colour of gauge S1 is unreadable"));
    EXPECT_FALSE(TEVGauge::createForSensorIdentifierPreferenceDictionary(QString(), QVariantMap()));
    EXPECT_FALSE(TEVGauge::createForSensorIdentifierPreferenceDictionary("S1", QVariant()));
    EXPECT_FALSE(TEVGauge::createForSensorIdentifierPreferenceDictionary("S1", QVariantList()));
}

TEST_F(TEVGaugeTest, PlainGaugeWritesNoNilNames)
{
    const QVariantMap stored = TEVGauge().preferenceDictionary();
    EXPECT_FALSE(stored.contains("CustomName") || stored.contains("ShortName") || stored.contains("SpokenName"));
    EXPECT_EQ(stored.value("FormatStyle"), QVariant::fromValue<qint64>(1));
    EXPECT_TRUE(stored.contains("Color"));
}

TEST_F(TEVGaugeTest, ValueTextsFollowFormatTagAndDisplayUnit)
{
    struct Row { qint64 unit; qint64 raw; qint64 tag; const char* text; };
    const Row rows[] = {
        {0, 4500, 1, "45.0°C"}, {3, 4500, 1, "45.0°C/113.0°F"}, {4, 4500, 1, "113.0°F/45.0°C"},
        {1, 4500, 0, "113°F"},  {2, 4500, 2, "318.15K"},         {9, 4500, 1, "45.0"},
        {0, 4512, 7, "45.12°C"},
    };
    const auto g = gauge(temperature());
    for (const Row& row : rows) {
        TEVGauge::setPreferredTemperatureDisplayUnit(row.unit);
        g->setFormatTag(row.tag);
        EXPECT_EQ(g->localizedPresentationOfPresentationValue(g->presentationValueForRawValue(row.raw)), row.text)
            << "unit " << row.unit;
    }
    // Exact halves round as C printf rounds them, to even.
    const struct { qint64 unit; double value; qint64 tag; const char* text; } halves[] = {
        {0, 36.5, 0, "36°C"}, {0, 37.5, 0, "38°C"}, {0, 45.25, 1, "45.2°C"}, {3, 45.25, 1, "45.2°C/113.5°F"},
    };
    for (const auto& row : halves) {
        TEVGauge::setPreferredTemperatureDisplayUnit(row.unit);
        g->setFormatTag(row.tag);
        EXPECT_EQ(g->localizedPresentationOfPresentationValue(row.value), row.text) << row.value;
    }
    // The framework's short temperature texts follow the gauges' unit.
    for (const auto& [unit, text] : {std::pair<qint64, const char*>{2, "310K"}, {1, " 98F"}, {0, " 37C"}}) {
        TEVGauge::setPreferredTemperatureDisplayUnit(unit);
        EXPECT_EQ(CDP::displayTextForCentigrade(36.6), text) << unit;
    }
    const auto f = gauge(fan());
    f->setFormatTag(0);
    EXPECT_EQ(f->presentationValueForRawValue(120000), 1200.0);
    EXPECT_EQ(f->localizedPresentationOfPresentationValue(1200.0), "1200 RPM");
}

// A value read again is not formatted again: its text must still follow whatever it was made from.
TEST_F(TEVGaugeTest, RepeatedValueTextFollowsEachChangeOfWhatMadeIt)
{
    const auto source = std::make_shared<FakeSource>(6, 1.0, "rpm");
    const auto g = gauge(source);
    g->setFormatTag(0);
    const auto otherBundle = [this] {
        kelvaro::test::writeFile(dir_.path() + "/other/Info.plist", platform::writePropertyList(QVariantMap(), platform::PlistFormat::Xml));
        kelvaro::test::writeFile(dir_.path() + "/other/en.lproj/Localizable.strings",
                                 platform::writePropertyList(QVariantMap{{"rpm", "U/min"}, {"W", "Watt"}}, platform::PlistFormat::Xml));
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir_.path() + "/other"));
    };
    const struct Row {
        const char* change;
        std::function<void()> make;
        double value;
        const char* text;
    } rows[] = {
        {"none", [] {}, 1200.0, "1200 RPM"},
        {"the value", [] {}, 1201.0, "1201 RPM"},
        {"the format", [&] { g->setFormatTag(1); }, 1201.0, "1201.0 RPM"},
        {"the locale", [] { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }, 1201.0, "1201,0 RPM"},
        {"the string table", otherBundle, 1201.0, "1201,0 U/min"},
        {"the sensor's description",
         [&] {
             source->description = FakeSource(6, 1.0, "W").description;
             g->connectToClient(source);
         },
         1201.0, "1201,0 Watt"},
        {"the enabling", [&] { g->setEnabled(false); }, 1201.0, "---"},
        {"the enabling back", [&] { g->setEnabled(true); }, 1201.0, "1201,0 Watt"},
    };
    for (const Row& row : rows) {
        row.make();
        EXPECT_EQ(g->localizedPresentationOfPresentationValue(row.value), row.text) << "after a change of " << row.change;
        EXPECT_EQ(g->localizedPresentationOfPresentationValue(row.value), row.text) << "again, after " << row.change;
    }
    // A temperature gauge's unit is the user's, which is no property of the gauge.
    const auto t = gauge(temperature());
    EXPECT_EQ(t->localizedPresentationOfPresentationValue(45.0), "45,0C") << "a table without the unit";
    TEVGauge::setPreferredTemperatureDisplayUnit(3);
    EXPECT_EQ(t->localizedPresentationOfPresentationValue(45.0), "45,0C/113.0F");
}

TEST_F(TEVGaugeTest, OnlyThePrimaryValueUsesTheUserLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TEVGauge::setPreferredTemperatureDisplayUnit(3);
    const auto g = gauge(temperature());
    EXPECT_EQ(g->localizedValue(), "45,0°C/113.0°F");
    EXPECT_EQ(g->spokenStringForPresentationValue(45.0, true), "CPU core:    45,0");
    EXPECT_EQ(g->localizedPrecision(), "0,2500 °C");
    EXPECT_EQ(g->localizedAccuracy(), "± 0,5000 °C");
}

TEST_F(TEVGaugeTest, DisabledOrDisconnectedGaugeHasNoValue)
{
    const auto source = temperature();
    const auto g = gauge(source);
    source->raw = -1;
    EXPECT_EQ(g->presentationValue(), kMissing);
    EXPECT_EQ(g->localizedValue(), "---");
    source->raw = 4500;
    g->setEnabled(false);
    EXPECT_EQ(source->disableCalls, (QList<QPair<bool, QString>>{{true, "S1"}}));
    EXPECT_EQ(g->presentationValue(), kMissing);
    EXPECT_EQ(g->localizedValue(), "---");
    EXPECT_EQ(g->localizedPresentationOfPresentationValue(45.0), "---");
    EXPECT_EQ(g->spokenStringForPresentationValue(45.0, true), "no value");
    g->setEnabled(true);
    EXPECT_EQ(g->presentationValue(), 45.0);
    g->connectToClient(nullptr);
    EXPECT_EQ(g->presentationValue(), kMissing);
    EXPECT_TRUE(g->localizedValue().isNull());
    EXPECT_EQ(g->sensorQuantityType(), 0);
    EXPECT_EQ(g->iconForSensorQuantityType(), "TUnknown");
    EXPECT_TRUE(g->localizedUnit().isNull() && g->localizedLocation().isNull() && g->localizedPrecision().isNull());
    g->setEnabled(false);
    EXPECT_EQ(source->disableCalls.size(), 2);
}

TEST_F(TEVGaugeTest, ThresholdsChangeBetweenPrimaryUnitsOnly)
{
    struct Row { qint64 from; qint64 to; double low; double high; };
    const Row rows[] = {
        {0, 3, 10.0, 75.0}, {1, 4, 10.0, 75.0}, {3, 2, 283.15, 348.15}, {0, 1, 50.0, 167.0},
        {4, 3, -12.222222222222221, 23.888888888888889}, {2, 1, -441.67, -324.67}, {5, 0, 10.0, 75.0},
    };
    for (const Row& row : rows) {
        const auto g = gauge(temperature());
        g->changeTemperatureTriggerUnitFrom(row.from, row.to);
        EXPECT_DOUBLE_EQ(g->lowThreshold(), row.low) << row.from << " to " << row.to;
        EXPECT_DOUBLE_EQ(g->highThreshold(), row.high) << row.from << " to " << row.to;
    }
    const auto toUnknown = gauge(temperature());
    toUnknown->changeTemperatureTriggerUnitFrom(0, 5);
    EXPECT_EQ(toUnknown->highThreshold(), 75.0);
    const auto f = gauge(fan());
    f->changeTemperatureTriggerUnitFrom(0, 2);
    EXPECT_EQ(f->lowThreshold(), 100.0);
    // Not connected: converted by the quantity it had, or the one stored with it, so that its thresholds are
    // right when its computer comes back.
    const auto disconnected = gauge(temperature());
    disconnected->connectToClient(nullptr);
    disconnected->changeTemperatureTriggerUnitFrom(0, 2);
    EXPECT_DOUBLE_EQ(disconnected->lowThreshold(), 283.15);
    const auto stored = TEVGauge::createForSensorIdentifierPreferenceDictionary("S1", gauge(temperature())->preferenceDictionary());
    stored->changeTemperatureTriggerUnitFrom(0, 1);
    EXPECT_DOUBLE_EQ(stored->highThreshold(), 167.0);
    const auto storedFan = TEVGauge::createForSensorIdentifierPreferenceDictionary("S1", gauge(fan())->preferenceDictionary());
    storedFan->changeTemperatureTriggerUnitFrom(0, 1);
    EXPECT_EQ(storedFan->lowThreshold(), 100.0);
}

TEST_F(TEVGaugeTest, RemoteIdentifierSplitsAtTheFirstDotAfterThePrefix)
{
    const auto source = temperature();
    EXPECT_EQ(TEVGauge::universalGaugeIdentifierForSensorIdentifier("SMC.TC0P", source, true), "SMC.TC0P");
    const QString remote = TEVGauge::universalGaugeIdentifierForSensorIdentifier("SMC.TC0P", source, false);
    EXPECT_EQ(remote, "remote.C02\\DX.SMC.TC0P");
    EXPECT_TRUE(TEVGauge::universalGaugeIdentifierForSensorIdentifier("S1", nullptr, true).isNull());

    QString sensor, serial;
    ASSERT_TRUE(TEVGauge::getSensorIdentifier(&sensor, &serial, remote));
    EXPECT_EQ(sensor, "SMC.TC0P");
    EXPECT_EQ(serial, "C02.X");
    EXPECT_TRUE(TEVGauge::getSensorIdentifier(nullptr, nullptr, remote));
    for (const char* bad : {"remote.C02X.", "remote.C02X", "SMC.TC0P", "remote.C0\\Q.S1", ""})
        EXPECT_FALSE(TEVGauge::getSensorIdentifier(&sensor, &serial, bad)) << bad;
    EXPECT_FALSE(TEVGauge::isUniversalGaugeIdentifierIndicatingRemoteSensor(QString()));
}

TEST_F(TEVGaugeTest, OrdersByQuantityThenCustomName)
{
    const auto a = gauge(temperature()), b = gauge(temperature()), c = gauge(fan());
    a->setCustomName("B");
    b->setCustomName("A");
    EXPECT_GT(a->compare(*b), 0);
    EXPECT_LT(b->compare(*a), 0);
    EXPECT_LT(a->compare(*c), 0);
    EXPECT_EQ(a->compare(*a), 0);
}

// A sensor that drops out for a tick keeps showing its last value and text.
TEST_F(TEVGaugeTest, CacheEntryKeepsItsLastValueWhileTheGaugeIsNotReady)
{
    OutputCacheEntry entry;
    EXPECT_FALSE(entry.hasValue());
    entry.cacheCurrentValueFromGauge(nullptr);
    EXPECT_FALSE(entry.hasValue());

    const auto source = fan();
    const auto g = gauge(source);
    ASSERT_TRUE(g);
    entry.cacheCurrentValueFromGauge(g);
    ASSERT_TRUE(entry.hasValue());
    EXPECT_EQ(entry.currentValue(), 45.0);
    EXPECT_EQ(entry.stringRepresentation(), "45 RPM");
    EXPECT_EQ(entry.connectedGauge(), g);

    source->raw = 6000;
    g->connectToClient(nullptr);
    entry.cacheCurrentValueFromGauge(g);
    EXPECT_EQ(entry.currentValue(), 45.0);
    EXPECT_EQ(entry.stringRepresentation(), "45 RPM");

    entry.cacheSpokenValue(45.0);
    EXPECT_EQ(entry.lastSpokenValue(), 45.0);
    EXPECT_TRUE(entry.description().startsWith("value: 45, spoken value: 45, text representation: '45 RPM', gauge: 0x"));
}
