#include "platform/foundation/Values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace platform;
using namespace platform::values;

TEST(Values, KindsStayApart)
{
    EXPECT_EQ(kindOf(fromBool(true)), Kind::Bool);
    EXPECT_EQ(kindOf(fromSigned(-1)), Kind::Signed);
    EXPECT_EQ(kindOf(fromUnsigned(1)), Kind::Unsigned);
    EXPECT_EQ(kindOf(fromReal(1.0)), Kind::Real);
    EXPECT_EQ(kindOf(QVariant(int(3))), Kind::Signed);
    EXPECT_EQ(kindOf(QVariant(3u)), Kind::Unsigned);
    EXPECT_EQ(kindOf(fromString(QStringLiteral("1"))), Kind::String);
    EXPECT_EQ(kindOf(fromData(QByteArray("1"))), Kind::Data);
    EXPECT_EQ(kindOf(fromDate(QDateTime::currentDateTimeUtc())), Kind::Date);
    EXPECT_EQ(kindOf(fromArray({})), Kind::Array);
    EXPECT_EQ(kindOf(fromDictionary({})), Kind::Dictionary);
    EXPECT_EQ(kindOf(QVariant()), Kind::Invalid);
    EXPECT_EQ(kindOf(fromObject(nullptr)), Kind::Invalid);
    EXPECT_EQ(kindOf(QVariant::fromValue(ObjectRef())), Kind::Invalid);
}

TEST(Values, StringsNeverBecomeNumbers)
{
    const QVariant text = fromString(QStringLiteral("42"));
    EXPECT_FALSE(toSigned(text));
    EXPECT_FALSE(toUnsigned(text));
    EXPECT_FALSE(toReal(text));
    EXPECT_FALSE(toBool(text));
    EXPECT_FALSE(toData(text));
    EXPECT_FALSE(toString(fromSigned(42)));
}

TEST(Values, NumbersReadOnlyWhenRepresentable)
{
    struct Row {
        QVariant value;
        std::optional<qint64> asSigned;
        std::optional<quint64> asUnsigned;
    };
    const quint64 two63 = quint64(1) << 63;
    const Row rows[] = {
        {fromSigned(-1), -1, std::nullopt},
        {fromUnsigned(two63), std::nullopt, two63},
        {fromUnsigned(two63 - 1), qint64(two63 - 1), two63 - 1},
        {fromReal(-2.9), -2, std::nullopt},
        {fromReal(2.9), 2, 2u},
        {fromReal(9223372036854775808.0), std::nullopt, two63},
        {fromReal(std::nan("")), std::nullopt, std::nullopt},
        {fromReal(std::numeric_limits<double>::infinity()), std::nullopt, std::nullopt},
        {fromBool(true), 1, 1u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.value.toString().toStdString());
        EXPECT_EQ(toSigned(row.value), row.asSigned);
        EXPECT_EQ(toUnsigned(row.value), row.asUnsigned);
    }
    EXPECT_EQ(toReal(fromUnsigned(two63)), 9223372036854775808.0);
    EXPECT_EQ(toBool(fromSigned(2)), true);
    EXPECT_EQ(toBool(fromReal(0.0)), false);
}

TEST(Values, StrictEqualityKeepsKindsButNotSignedness)
{
    EXPECT_FALSE(strictlyEqual(fromSigned(1), fromReal(1.0)));
    EXPECT_FALSE(strictlyEqual(fromSigned(1), fromBool(true)));
    EXPECT_TRUE(strictlyEqual(fromSigned(5), fromUnsigned(5)));
    EXPECT_FALSE(strictlyEqual(fromSigned(-1), fromUnsigned(~quint64(0))));
    const QVariantMap a{{"k", fromArray({fromSigned(1), fromString("x")})}};
    QVariantMap b = a;
    EXPECT_TRUE(strictlyEqual(a, b));
    b["k"] = fromArray({fromReal(1.0), fromString("x")});
    EXPECT_FALSE(strictlyEqual(a, b));
}
