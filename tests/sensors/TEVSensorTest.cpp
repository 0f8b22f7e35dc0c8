#include "sensors/TEVSensor.h"

#include "sensors/TEVSensorDescription.h"
#include "tests/sensors/SensorTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QSet>

#include <algorithm>

using namespace sensortest;
namespace values = platform::values;

namespace {

std::shared_ptr<TEVSensor> sensor(const QString& id, qint64 quantity, const QString& location)
{
    auto s = std::make_shared<TEVSensor>();
    s->setUniqueIdentifier(id);
    s->setQuantityType(quantity);
    s->setLocationIdentifier(location);
    return s;
}

QStringList identifiers(const TEVSensorList& sensors)
{
    QStringList ids;
    for (const auto& s : sensors)
        ids << s->uniqueIdentifier();
    return ids;
}

// A sensor class whose enumeration makes new sensors with the given identifiers and counts its calls.
TEVSensorClass sensorClass(const QString& name, const QStringList& ids, int* calls = nullptr)
{
    return {name, [ids, calls] {
                if (calls)
                    ++*calls;
                TEVSensorList list;
                for (const auto& id : ids)
                    list << sensor(id, 1, id);
                return list;
            }};
}

} // namespace

TEST(TEVSensor, StartsWithPlaceholderIdentity)
{
    TEVSensor s;
    EXPECT_EQ(s.uniqueIdentifier(), "nil");
    EXPECT_EQ(s.locationIdentifier(), "UNKNOWN LOCATION");
    EXPECT_EQ(s.sensorName(), "Unknown");
    EXPECT_EQ(s.sensorType(), 0);
    EXPECT_EQ(s.quantityType(), 0);
    EXPECT_EQ(s.precision(), 0.0);
    EXPECT_EQ(s.accuracy(), 0.0);
    EXPECT_EQ(s.rawValue(), 0);
    EXPECT_EQ(s.unit(), " ");
    EXPECT_EQ(s.value(), 0.0);
    EXPECT_EQ(s.valueConverter()->functionType(), 0);
    EXPECT_EQ(s.valueConverter()->linearFactor(), 1.0);
}

TEST(TEVSensor, ValueAppliesTheClassConverterToTheRawValue)
{
    EXPECT_EQ(FanLikeSensor(1500).value(), 1500.0);
    EXPECT_EQ(FanLikeSensor(786432, 1, 1.0 / 65536).value(), 12.0);
    EXPECT_EQ(FanLikeSensor(-1, 1, 1.0 / 65536).value(), -1.0 / 65536);
}

TEST(TEVSensor, EqualityAndHashFollowTheUniqueIdentifierOnly)
{
    FanLikeSensor fan;
    const auto plain = sensor("F0Ac", 1, "ELSEWHERE");
    EXPECT_TRUE(fan.isEqual(plain.get()));
    EXPECT_TRUE(*plain == fan);
    EXPECT_EQ(fan.hash(), plain->hash());
    EXPECT_EQ(qHash(fan), qHash(*plain));
    EXPECT_FALSE(fan.isEqual(sensor("F1Ac", 6, "SMC FAN 0").get()));
    EXPECT_FALSE(fan.isEqual(nullptr));
}

TEST(TEVSensor, OrdersByQuantityThenLocation)
{
    struct Row {
        qint64 quantityA;
        const char* locationA;
        qint64 quantityB;
        const char* locationB;
        int expected;
    } rows[] = {
        {1, "SMC Z", 6, "SMC A", -1}, // quantity wins over location
        {6, "SMC A", 1, "SMC Z", 1},
        {1, "SMC AIR INLET", 1, "SMC GPU DIODE", -1},
        {1, "SMC GPU DIODE", 1, "SMC AIR INLET", 1},
        {2, "SMC X", 2, "SMC X", 0},
        {9999, "", 13, "", 1},
    };
    for (const Row& row : rows) {
        const auto a = sensor("a", row.quantityA, row.locationA);
        const auto b = sensor("b", row.quantityB, row.locationB);
        EXPECT_EQ(a->compare(*b), row.expected) << row.locationA << " vs " << row.locationB;
    }

    TEVSensorList list{sensor("fan", 6, "SMC FAN"), sensor("gpu", 1, "SMC GPU DIODE"), sensor("air", 1, "SMC AIR INLET")};
    std::sort(list.begin(), list.end(), [](const auto& x, const auto& y) { return x->compare(*y) < 0; });
    EXPECT_EQ(identifiers(list), (QStringList{"air", "gpu", "fan"}));
}

TEST(TEVSensor, CopyIsARootSensorWithTheSameIdentity)
{
    FanLikeSensor fan(2400);
    const auto copy = fan.copy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->className(), "TEVSensor");
    EXPECT_FALSE(std::dynamic_pointer_cast<FanLikeSensor>(copy));
    EXPECT_EQ(copy->uniqueIdentifier(), "F0Ac");
    EXPECT_EQ(copy->locationIdentifier(), "SMC FAN 0");
    EXPECT_EQ(copy->sensorName(), "System Management Controller");
    EXPECT_EQ(copy->sensorType(), 1);
    EXPECT_EQ(copy->quantityType(), 6);
    EXPECT_EQ(copy->precision(), 0.25);
    EXPECT_EQ(copy->accuracy(), 0.0);
    EXPECT_EQ(copy->rawValue(), 0);
    EXPECT_EQ(copy->unit(), " ");
}

TEST(TEVSensor, SubstituteIdentifierIsTheComplementedCrcOfTheLocation)
{
    struct Row {
        QString location;
        quint32 expected;
    } rows[] = {
        {QString(), 0xFFFFFFFFu},
        {QStringLiteral(""), 0xFFFFFFFFu},
        {QStringLiteral("abc"), 0xCADBBE3Du},
        {QStringLiteral("123456789"), ~0xCBF43926u}, // the CRC-32 check value
        {QStringLiteral("\u00e9"), ~0x0E048D3Eu},    // UTF-8 bytes C3 A9, not Latin-1
    };
    for (const Row& row : rows) {
        TEVSensor s;
        s.setLocationIdentifier(row.location);
        EXPECT_EQ(s.substituteIDForLocationIdentifier(), row.expected) << row.location.toStdString();
    }
}

TEST(TEVSensor, DescriptionReadsTheLiveValue)
{
    FanLikeSensor fan(1500);
    fan.setLocationIdentifier("abc");
    EXPECT_EQ(fan.description(),
        "<FanLikeSensor>: ID: F0Ac Name: System Management Controller Location: abc type: 1 quantity: 6 "
        "precision: 0.25 accuracy: 0 (cadbbe3d: 1500 --> 1500.00)\n");
}

TEST(TEVSensor, ArchiveKeepsIdentityWithSinglePrecisionSteps)
{
    auto original = std::make_shared<FanLikeSensor>();
    original->setPrecision(0.1, 0.3);
    original->setSensorType(2);
    original->setQuantityType(-5);
    for (ArchiveKind kind : {ArchiveKind::Keyed, ArchiveKind::Sequential}) {
        SCOPED_TRACE(archiveKindName(kind));
        // The decoder rebuilds the class named in the archive; a root copy archives as TEVSensor.
        const auto decoded = roundTrip<TEVSensor>(kind, original->copy(), "TEVSensor");
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->className(), "TEVSensor");
        EXPECT_EQ(decoded->uniqueIdentifier(), "F0Ac");
        EXPECT_EQ(decoded->locationIdentifier(), "SMC FAN 0");
        EXPECT_EQ(decoded->sensorName(), "System Management Controller");
        EXPECT_EQ(decoded->sensorType(), 2);
        EXPECT_EQ(decoded->quantityType(), -5);
        EXPECT_EQ(decoded->precision(), double(0.1f));
        EXPECT_NE(decoded->precision(), 0.1);
        EXPECT_EQ(decoded->accuracy(), double(0.3f));

        const QVariantMap coded = generic(kind, original->copy());
        EXPECT_EQ(coded.keys(), (QStringList{"$0", "$1", "$2", "$3", "$4", "$5", "$6", "$class"}));
        EXPECT_EQ(coded["$class"].toString(), "TEVSensor");
        EXPECT_TRUE(values::strictlyEqual(coded["$0"], values::fromString("F0Ac")));
        EXPECT_TRUE(values::strictlyEqual(coded["$1"], values::fromString("SMC FAN 0")));
        EXPECT_TRUE(values::strictlyEqual(coded["$2"], values::fromString("System Management Controller")));
        EXPECT_EQ(values::kindOf(coded["$3"]), values::Kind::Signed);
        EXPECT_EQ(values::toSigned(coded["$4"]), -5);
        EXPECT_EQ(values::kindOf(coded["$5"]), values::Kind::Real);
        EXPECT_EQ(values::toReal(coded["$5"]), double(0.1f)); // written as a float
        EXPECT_EQ(values::toReal(coded["$6"]), double(0.3f));
    }
}

TEST(TEVSensor, DecodingDoesNotApplyDefaults)
{
    const auto forged = std::make_shared<ForgedArchive>("TEVSensor", [](platform::Coder& coder) {
        const qint64 zero = 0;
        const float none = 0;
        for (int i = 0; i < 3; ++i)
            coder.encodeObject(QVariant());
        coder.encodeValueOfObjCType("q", &zero);
        coder.encodeValueOfObjCType("q", &zero);
        coder.encodeValueOfObjCType("f", &none);
        coder.encodeValueOfObjCType("f", &none);
    });
    const auto decoded = roundTrip<TEVSensor>(ArchiveKind::Sequential, forged, "TEVSensor");
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->uniqueIdentifier().isNull());
    EXPECT_TRUE(decoded->locationIdentifier().isNull());
    EXPECT_TRUE(decoded->sensorName().isNull());
}

TEST(TEVSensor, BadArchivesDecodeToNilWithAReason)
{
    struct Row {
        const char* name;
        std::function<void(platform::Coder&)> encode;
        const char* reason;
    } rows[] = {
        {"number for identifier",
            [](platform::Coder& coder) { coder.encodeObject(values::fromSigned(42)); },
            "TEVSensor: identity field is a"},
        {"floats missing",
            [](platform::Coder& coder) {
                const qint64 q = 1;
                for (int i = 0; i < 3; ++i)
                    coder.encodeObject(values::fromString("x"));
                coder.encodeValueOfObjCType("q", &q);
                coder.encodeValueOfObjCType("q", &q);
            },
            "read past the end"},
        {"doubles for floats",
            [](platform::Coder& coder) {
                const qint64 q = 1;
                const double d = 0.5;
                for (int i = 0; i < 3; ++i)
                    coder.encodeObject(values::fromString("x"));
                coder.encodeValueOfObjCType("q", &q);
                coder.encodeValueOfObjCType("q", &q);
                coder.encodeValueOfObjCType("d", &d);
                coder.encodeValueOfObjCType("d", &d);
            },
            "asked for \"f\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        EXPECT_FALSE(roundTrip<TEVSensor>(ArchiveKind::Sequential, std::make_shared<ForgedArchive>("TEVSensor", row.encode), "TEVSensor"));
        EXPECT_TRUE(kelvaro::test::log().contains(row.reason)) << kelvaro::test::log().lines().join("").toStdString();
    }
}

TEST(TEVSensor, RemovesEntriesTheReferenceLacks)
{
    const QVariantMap start{{"a", values::fromSigned(1)}, {"b", values::fromSigned(2)}, {"c", values::fromSigned(3)}};

    QVariantMap dictionary = start;
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&dictionary, static_cast<const QVariantMap*>(nullptr));
    EXPECT_EQ(dictionary.keys(), start.keys());

    const QVariantMap empty;
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&dictionary, &empty);
    EXPECT_TRUE(dictionary.isEmpty());

    dictionary = start;
    const QHash<QString, std::shared_ptr<TEVSensor>> reference{{"b", nullptr}, {"z", nullptr}};
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&dictionary, &reference);
    EXPECT_EQ(dictionary.keys(), QStringList{"b"});

    TEVSensor::removeUnknownSensorEntriesFromDictionary(static_cast<QVariantMap*>(nullptr), &reference);
}

TEST(TEVSensorClassRegistry, EnumeratesClassesInRegistrationOrder)
{
    TEVSensorClassRegistry registry;
    int smartCalls = 0;
    ASSERT_TRUE(registry.registerSensorClass(sensorClass("TEVSMARTTemperatureSensor", {"disk0"}, &smartCalls)));
    ASSERT_TRUE(registry.registerSensorClass(sensorClass("TEVBatterySensor", {"bat0", "bat1"})));
    ASSERT_TRUE(registry.registerSensorClass({"TEVCaseLockSensor", nullptr}));
    ASSERT_TRUE(registry.registerSensorClass(sensorClass("TEVSMCFanSensor", {"F0Ac"})));

    QStringList names;
    for (const auto& c : registry.knownSensorClasses())
        names << c.name;
    EXPECT_EQ(names, (QStringList{"TEVSMARTTemperatureSensor", "TEVBatterySensor", "TEVCaseLockSensor", "TEVSMCFanSensor"}));

    const TEVSensorList first = registry.allSensors();
    EXPECT_EQ(identifiers(first), (QStringList{"disk0", "bat0", "bat1", "F0Ac"}));
    EXPECT_EQ(identifiers(registry.allNonSMARTSensors()), (QStringList{"bat0", "bat1", "F0Ac"}));
    EXPECT_EQ(smartCalls, 1); // skipped classes are not asked

    // Each enumeration makes new sensor objects.
    const TEVSensorList second = registry.allSensors();
    EXPECT_NE(first.front().get(), second.front().get());
    EXPECT_TRUE(first.front()->isEqual(second.front().get()));
}

TEST(TEVSensorClassRegistry, RefusesASecondClassOfTheSameName)
{
    TEVSensorClassRegistry registry;
    ASSERT_TRUE(registry.registerSensorClass(sensorClass("TEVBatterySensor", {"bat0"})));
    EXPECT_FALSE(registry.registerSensorClass(sensorClass("TEVBatterySensor", {"bat0"})));
    EXPECT_TRUE(kelvaro::test::log().contains("TEVSensor: class TEVBatterySensor is already registered\n"));
    EXPECT_EQ(identifiers(registry.allSensors()), QStringList{"bat0"});
}

TEST(TEVSensorClassRegistry, SharedRegistryBacksTheClassOperations)
{
    const qsizetype before = TEVSensor::knownSensorClasses().size();
    ASSERT_TRUE(TEVSensor::registerSensorClass(sensorClass("TestOnlySensorClass", {"t0"})));
    EXPECT_EQ(TEVSensor::knownSensorClasses().size(), before + 1);
    EXPECT_EQ(TEVSensor::knownSensorClasses().back().name, "TestOnlySensorClass");
    EXPECT_TRUE(identifiers(TEVSensor::allSensors()).contains("t0"));
    EXPECT_TRUE(identifiers(TEVSensor::allNonSMARTSensors()).contains("t0"));
}
