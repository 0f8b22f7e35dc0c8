#include "sensors/TEVSensorDescription.h"

#include "tests/sensors/SensorTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace sensortest;
namespace values = platform::values;

namespace {

std::shared_ptr<TEVSensorDescription> fanDescription()
{
    FanLikeSensor fan;
    fan.setPrecision(0.1, 0.3); // full doubles, unlike the sensor's own archive
    return fan.configurationDescription();
}

} // namespace

TEST(TEVSensorDescription, AbsentSensorGivesNoDescription)
{
    EXPECT_FALSE(TEVSensorDescription::descriptionForSensor(nullptr));
    EXPECT_FALSE(TEVSensorDescription::createForSensor(nullptr));
}

TEST(TEVSensorDescription, TakesTheSensorsIdentityAndUnit)
{
    FanLikeSensor fan;
    const auto d = TEVSensorDescription::descriptionForSensor(&fan);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->localIdentifier(), "F0Ac");
    EXPECT_EQ(d->locationIdentifier(), "SMC FAN 0");
    EXPECT_EQ(d->sensorName(), "System Management Controller");
    EXPECT_EQ(d->unit(), "rpm"); // through the subclass, not the root's " "
    EXPECT_EQ(d->sensorType(), 1);
    EXPECT_EQ(d->quantityType(), 6);
    EXPECT_EQ(d->precision(), 0.25);
    EXPECT_EQ(d->accuracy(), 0.0);
    EXPECT_EQ(d->substituteIdentification(), fan.substituteIDForLocationIdentifier());

    EXPECT_TRUE(*d->copy() == *d);
    EXPECT_EQ(d->description(),
        QString::asprintf("local identifier: 'F0Ac' location identifier: 'SMC FAN 0' sensor name: 'System Management "
                          "Controller' unit: 'rpm' type: 1 quantity: 6 precision: 0.25 accuracy: 0 substitute ID: %u",
            fan.substituteIDForLocationIdentifier()));
}

TEST(TEVSensorDescription, ArchiveKeepsEveryFieldAtFullPrecision)
{
    const auto rootDescription = TEVSensor().configurationDescription(); // unit of one space
    for (const auto& original : {fanDescription(), rootDescription}) {
        for (ArchiveKind kind : {ArchiveKind::Keyed, ArchiveKind::Sequential}) {
            SCOPED_TRACE(archiveKindName(kind));
            const auto decoded = roundTrip<TEVSensorDescription>(kind, original, "TEVSensorDescription");
            ASSERT_TRUE(decoded);
            EXPECT_TRUE(*decoded == *original) << decoded->description().toStdString();
        }
    }
    EXPECT_EQ(roundTrip<TEVSensorDescription>(ArchiveKind::Sequential, rootDescription, "TEVSensorDescription")->unit(), " ");
}

TEST(TEVSensorDescription, ArchiveHoldsFourObjectsThenTheNumbers)
{
    const auto original = fanDescription();
    for (ArchiveKind kind : {ArchiveKind::Keyed, ArchiveKind::Sequential}) {
        SCOPED_TRACE(archiveKindName(kind));
        const QVariantMap coded = generic(kind, original);
        EXPECT_EQ(coded.keys(), (QStringList{"$0", "$1", "$2", "$3", "$4", "$5", "$6", "$7", "$8", "$class"}));
        EXPECT_EQ(coded["$class"].toString(), "TEVSensorDescription");
        EXPECT_TRUE(values::strictlyEqual(coded["$0"], values::fromString("F0Ac")));
        EXPECT_TRUE(values::strictlyEqual(coded["$1"], values::fromString("SMC FAN 0")));
        EXPECT_TRUE(values::strictlyEqual(coded["$2"], values::fromString("System Management Controller")));
        EXPECT_TRUE(values::strictlyEqual(coded["$3"], values::fromString("rpm")));
        EXPECT_EQ(values::kindOf(coded["$4"]), values::Kind::Signed);
        EXPECT_EQ(values::toSigned(coded["$4"]), 1);
        EXPECT_EQ(values::toSigned(coded["$5"]), 6);
        EXPECT_EQ(values::kindOf(coded["$6"]), values::Kind::Real);
        EXPECT_EQ(values::toReal(coded["$6"]), 0.1); // a double, not narrowed
        EXPECT_EQ(values::toReal(coded["$7"]), 0.3);
        EXPECT_EQ(values::toUnsigned(coded["$8"]), original->substituteIdentification());
    }
    // The sequential form keeps signedness: "I" reads back as an unsigned number.
    EXPECT_EQ(values::kindOf(generic(ArchiveKind::Sequential, original)["$8"]), values::Kind::Unsigned);
}

TEST(TEVSensorDescription, BadArchivesDecodeToNil)
{
    struct Row {
        const char* name;
        std::function<void(platform::Coder&)> encode;
    } rows[] = {
        {"data for a string", [](platform::Coder& coder) { coder.encodeObject(values::fromData("F0Ac")); }},
        {"signed for unsigned identification",
            [](platform::Coder& coder) {
                const qint64 q = 1;
                const double d = 0.5;
                for (int i = 0; i < 4; ++i)
                    coder.encodeObject(values::fromString("x"));
                coder.encodeValueOfObjCType("q", &q);
                coder.encodeValueOfObjCType("q", &q);
                coder.encodeValueOfObjCType("d", &d);
                coder.encodeValueOfObjCType("d", &d);
                coder.encodeValueOfObjCType("q", &q);
            }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        const auto forged = std::make_shared<ForgedArchive>("TEVSensorDescription", row.encode);
        EXPECT_FALSE(roundTrip<TEVSensorDescription>(ArchiveKind::Sequential, forged, "TEVSensorDescription"));
        EXPECT_FALSE(kelvaro::test::log().lines().isEmpty());
    }
}
