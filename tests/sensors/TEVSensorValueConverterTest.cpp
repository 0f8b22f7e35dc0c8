#include "sensors/TEVSensorValueConverter.h"

#include "tests/sensors/SensorTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace sensortest;
namespace values = platform::values;

namespace {

TEVSensorValueConverter converter(qint64 kind, double factor)
{
    TEVSensorValueConverter c;
    c.setConversionFunctionType(kind);
    c.setLinearFactor(factor);
    return c;
}

} // namespace

TEST(TEVSensorValueConverter, ConvertsByKind)
{
    const double fixed16 = std::ldexp(1.0, -16);
    struct Row {
        qint64 kind;
        double factor;
        qint64 raw;
        double expected;
    } rows[] = {
        {0, 1.0, 786432, 786432.0},
        {0, 2.0, 5, 5.0}, // identity ignores the factor
        {1, fixed16, 786432, 12.0},
        {1, fixed16, -1, -1.52587890625e-05}, // no value is converted like any number
        {1, 0.03125, 64, 2.0},
        {1, fixed16, qint64(1) << 53, std::ldexp(1.0, 37)},
        {7, 1.0, 786432, 0.0},
        {-1, 1.0, 1, 0.0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(converter(row.kind, row.factor).valueForRawSensorValue(row.raw), row.expected)
            << "kind " << row.kind << " raw " << row.raw;
    }
}

TEST(TEVSensorValueConverter, CopiesAndDescribesKindAndFactor)
{
    const auto original = converter(1, 0.03125);
    const auto copy = original.copy();
    EXPECT_TRUE(*copy == original);
    EXPECT_EQ(original.description(), "f: 1 l: 0.031250\n");
}

TEST(TEVSensorValueConverter, ArchiveRoundTripsKindAndFullFactor)
{
    const auto original = std::make_shared<TEVSensorValueConverter>(converter(1, std::ldexp(1.0, -16) + 1e-17));
    for (ArchiveKind kind : {ArchiveKind::Keyed, ArchiveKind::Sequential}) {
        SCOPED_TRACE(archiveKindName(kind));
        const auto decoded = roundTrip<TEVSensorValueConverter>(kind, original, "TEVSensorValueConverter");
        ASSERT_TRUE(decoded);
        EXPECT_TRUE(*decoded == *original);

        const QVariantMap coded = generic(kind, original);
        EXPECT_EQ(coded.keys(), (QStringList{"$0", "$1", "$class"}));
        EXPECT_EQ(values::kindOf(coded["$0"]), values::Kind::Signed);
        EXPECT_EQ(values::toSigned(coded["$0"]), 1);
        EXPECT_EQ(values::kindOf(coded["$1"]), values::Kind::Real);
        EXPECT_EQ(values::toReal(coded["$1"]), original->linearFactor()); // a double, not narrowed
    }
}

TEST(TEVSensorValueConverter, DecodedUnknownKindGivesZero)
{
    const auto original = std::make_shared<TEVSensorValueConverter>(converter(7, 3.0));
    const auto decoded = roundTrip<TEVSensorValueConverter>(ArchiveKind::Sequential, original, "TEVSensorValueConverter");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->functionType(), 7);
    for (qint64 raw : {qint64(-1), qint64(0), qint64(786432)})
        EXPECT_EQ(decoded->valueForRawSensorValue(raw), 0.0);
}

TEST(TEVSensorValueConverter, TruncatedArchiveDecodesToNil)
{
    const auto forged = std::make_shared<ForgedArchive>("TEVSensorValueConverter", [](platform::Coder& coder) {
        const qint64 kind = 1;
        coder.encodeValueOfObjCType("q", &kind);
    });
    platform::UnarchiveOptions options;
    options.allowedClasses = {"TEVSensorValueConverter"};
    const QVariant decoded = unarchive(ArchiveKind::Sequential, archive(ArchiveKind::Sequential, forged), options);
    EXPECT_FALSE(values::toObject(decoded));
    EXPECT_FALSE(kelvaro::test::log().lines().isEmpty());
}
