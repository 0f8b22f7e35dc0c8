#include "platform/foundation/KeyedArchiver.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/NullObject.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "tests/platform/foundation/KeyedTestClasses.h"
#include "tests/support/TestEnvironment.h"

#include <QSize>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using namespace platform;
using namespace platform::values;
using kelvaro::test::TestGauge;

namespace {

UnarchiveOptions allowing(const QStringList& classes)
{
    UnarchiveOptions options;
    options.allowedClasses = classes;
    return options;
}

QDateTime utc(qint64 msecs) { return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC); }

QVariantMap envelope(const QByteArray& archive)
{
    const PlistReadResult plist = readPropertyList(archive);
    EXPECT_EQ(plist.format, PlistFormat::Binary);
    return plist.value.toMap();
}

// Kinds must match all the way down, not just values.
void expectSameKinds(const QVariant& got, const QVariant& want)
{
    ASSERT_EQ(kindOf(got), kindOf(want)) << kindName(kindOf(got)) << " vs " << kindName(kindOf(want));
    if (kindOf(want) == Kind::Array) {
        for (qsizetype i = 0; i < want.toList().size(); ++i)
            expectSameKinds(got.toList().value(i), want.toList()[i]);
    } else if (kindOf(want) == Kind::Dictionary) {
        const QVariantMap map = want.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            expectSameKinds(got.toMap().value(it.key()), it.value());
    }
}

std::shared_ptr<TestGauge> sampleGauge()
{
    auto gauge = std::make_shared<TestGauge>();
    gauge->name = QStringLiteral("CPU-Kern ☀");
    gauge->reading = 61.25;
    gauge->ratio = 0.75f;
    gauge->count = -42;
    gauge->total = std::numeric_limits<qint64>::min();
    gauge->enabled = true;
    gauge->raw = QByteArray("\x00\xffraw", 5);
    gauge->samples = {1, -2, 3, std::numeric_limits<qint32>::max(), std::numeric_limits<qint32>::min()};
    gauge->colour = {0.0f, 0.1686274558f, 0.2117647231f, 1.0f};
    gauge->grade = -7;
    gauge->serial = std::numeric_limits<quint64>::max();
    gauge->label = "fan";
    gauge->extra = fromArray({fromBool(false), fromSigned(1), fromReal(1.0)});
    return gauge;
}

} // namespace

TEST(KeyedArchiver, RoundTripsEveryValueType)
{
    const quint64 two63 = quint64(1) << 63;
    const QVariant rows[] = {
        fromBool(true),
        fromBool(false),
        fromSigned(0),
        fromSigned(-1),
        fromSigned(std::numeric_limits<qint64>::min()),
        fromSigned(std::numeric_limits<qint64>::max()),
        fromUnsigned(two63),
        fromUnsigned(std::numeric_limits<quint64>::max()),
        fromReal(1.5),
        fromReal(-0.25),
        fromReal(3.0),
        fromReal(1e300),
        fromString(QString("")),
        fromString(QStringLiteral("Grüße, 温度 😀")),
        fromData(QByteArray("\x00\x01\x02", 3)),
        fromData(QByteArray()),
        fromDate(utc(1700000000123)),
        fromDate(utc(915148800250)),  // 1999, a negative time since 2001
        fromDate(utc(4102444800000)), // 2100
        fromArray({}),
        fromDictionary({}),
        fromArray({fromBool(true), fromSigned(1), fromReal(1.0), fromUnsigned(two63 + 5), fromString("1")}),
        fromDictionary({{"größe", fromArray({fromDictionary({}), fromArray({fromSigned(-3)})})},
            {"$dollar", fromSigned(1)}, {"when", fromDate(utc(0))}}),
    };
    for (const QVariant& value : rows) {
        SCOPED_TRACE(kindName(kindOf(value)));
        const QByteArray archive = KeyedArchiver::archivedDataWithRootObject(value);
        ASSERT_FALSE(archive.isNull());
        const QVariant back = KeyedUnarchiver::unarchiveObjectWithData(archive);
        EXPECT_TRUE(strictlyEqual(back, value));
        expectSameKinds(back, value);
    }
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(KeyedArchiver, WritesTheEnvelopeOfTheOriginal)
{
    const QByteArray archive = KeyedArchiver::archivedDataWithRootObject(
        fromArray({fromString("baa"), fromString("baa"), fromArray({}), fromDate(utc(978307201000))}));
    const QVariantMap top = envelope(archive);
    EXPECT_EQ(top.value("$archiver").toString(), "NSKeyedArchiver");
    EXPECT_EQ(top.value("$version").toLongLong(), 100000);
    EXPECT_EQ(top.value("$top").toMap().value("root").value<PlistUid>(), PlistUid{1});
    const QVariantList objects = top.value("$objects").toList();
    EXPECT_EQ(objects.value(0).toString(), "$null");

    const QVariantMap root = objects.value(1).toMap();
    const QVariantList refs = root.value("NS.objects").toList();
    ASSERT_EQ(refs.size(), 4);
    EXPECT_EQ(refs[0].value<PlistUid>(), refs[1].value<PlistUid>()); // equal strings share one entry
    const QVariantMap date = objects.value(qsizetype(refs[3].value<PlistUid>().value)).toMap();
    EXPECT_EQ(kindOf(date.value("NS.time")), Kind::Real);
    EXPECT_EQ(date.value("NS.time").toDouble(), 1.0);

    int arrayClasses = 0;
    for (const QVariant& object : objects) {
        const QVariantMap map = object.toMap();
        if (map.value("$classname").toString() == "NSArray") {
            ++arrayClasses;
            EXPECT_EQ(map.value("$classes").toStringList(), QStringList({"NSArray", "NSObject"}));
        }
    }
    EXPECT_EQ(arrayClasses, 1); // one class dictionary however many arrays
    const quint64 classUid = root.value("$class").value<PlistUid>().value;
    EXPECT_EQ(objects.value(qsizetype(classUid)).toMap().value("$classname").toString(), "NSArray");
}

TEST(KeyedArchiver, ArchivableRoundTripsKeyedAndSequentialValues)
{
    auto gauge = sampleGauge();
    auto child = std::make_shared<TestGauge>();
    child->name = QStringLiteral("child");
    gauge->child = fromObject(child);

    const QVariant back = KeyedUnarchiver::unarchiveObjectWithData(
        KeyedArchiver::archivedDataWithRootObject(fromObject(gauge)), allowing({"KVTestGauge"}));
    const auto decoded = objectAs<TestGauge>(toObject(back));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->name, gauge->name);
    EXPECT_EQ(decoded->reading, gauge->reading);
    EXPECT_EQ(decoded->ratio, gauge->ratio);
    EXPECT_EQ(decoded->count, gauge->count);
    EXPECT_EQ(decoded->total, gauge->total);
    EXPECT_EQ(decoded->enabled, gauge->enabled);
    EXPECT_EQ(decoded->raw, gauge->raw);
    EXPECT_EQ(decoded->samples, gauge->samples);
    EXPECT_EQ(decoded->colour, gauge->colour);
    EXPECT_EQ(decoded->grade, gauge->grade);
    EXPECT_EQ(decoded->serial, gauge->serial);
    EXPECT_EQ(decoded->label, gauge->label);
    EXPECT_TRUE(strictlyEqual(decoded->extra, gauge->extra));
    expectSameKinds(decoded->extra, gauge->extra);
    const auto decodedChild = objectAs<TestGauge>(toObject(decoded->child));
    ASSERT_TRUE(decodedChild);
    EXPECT_EQ(decodedChild->name, "child");
    EXPECT_FALSE(decodedChild->child.isValid());
}

TEST(KeyedArchiver, StoresSequentialValuesUnderGeneratedKeys)
{
    const QVariantMap top = envelope(KeyedArchiver::archivedDataWithRootObject(fromObject(sampleGauge())));
    const QVariantList objects = top.value("$objects").toList();
    const QVariantMap gauge = objects.value(1).toMap();
    // "[5i]", then "ffff" (four keys), then "cQ*@": nine values in call order.
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(gauge.contains(QStringLiteral("$%1").arg(i))) << i;
    EXPECT_FALSE(gauge.contains("$9"));
    EXPECT_EQ(gauge.value("$2").toDouble(), double(0.1686274558f));
    EXPECT_EQ(gauge.value("$5").toLongLong(), -7);
    EXPECT_EQ(kindOf(gauge.value("$6")), Kind::Unsigned);
    EXPECT_EQ(objects.value(qsizetype(gauge.value("$7").value<PlistUid>().value)).toString(), "fan");

    const QVariantMap array = objects.value(qsizetype(gauge.value("$0").value<PlistUid>().value)).toMap();
    EXPECT_EQ(array.value("NS.count").toLongLong(), 5);
    EXPECT_EQ(array.value("NS.size").toLongLong(), 4);
    EXPECT_EQ(array.value("NS.type").toLongLong(), 105);
    EXPECT_EQ(array.value("$1").toLongLong(), -2);
    const QVariantMap arrayClass = objects.value(qsizetype(array.value("$class").value<PlistUid>().value)).toMap();
    EXPECT_EQ(arrayClass.value("$classname").toString(), "_NSKeyedCoderOldStyleArray");
    EXPECT_EQ(arrayClass.value("$classes").toStringList(), QStringList({"_NSKeyedCoderOldStyleArray", "NSObject"}));

    const QVariantMap gaugeClass = objects.value(qsizetype(gauge.value("$class").value<PlistUid>().value)).toMap();
    EXPECT_EQ(gaugeClass.value("$classes").toStringList(), QStringList({"KVTestGauge", "NSObject"}));
}

TEST(KeyedArchiver, WritesASharedObjectOnce)
{
    auto gauge = std::make_shared<TestGauge>();
    gauge->name = QStringLiteral("shared");
    const QVariant shared = fromObject(gauge);
    const QByteArray archive = KeyedArchiver::archivedDataWithRootObject(fromArray({shared, shared, fromDictionary({{"again", shared}})}));

    int gauges = 0;
    for (const QVariant& object : envelope(archive).value("$objects").toList())
        gauges += object.toMap().contains("reading") ? 1 : 0;
    EXPECT_EQ(gauges, 1);

    const QVariantList back = KeyedUnarchiver::unarchiveObjectWithData(archive, allowing({"KVTestGauge"})).toList();
    ASSERT_EQ(back.size(), 3);
    const ObjectRef first = toObject(back[0]);
    ASSERT_TRUE(first);
    EXPECT_EQ(toObject(back[1]), first);
    EXPECT_EQ(toObject(back[2].toMap().value("again")), first);
}

TEST(KeyedArchiver, InstanceApiWritesSeveralTopKeys)
{
    KeyedArchiver archiver;
    archiver.encodeObject(fromString("first"), QStringLiteral("name"));
    archiver.encodeInt32(-5, QStringLiteral("count"));
    archiver.encodeBool(true, QStringLiteral("$flag"));
    archiver.encodeObject(QVariant(), QStringLiteral("nothing"));
    const QByteArray data = archiver.encodedData();

    const auto unarchiver = KeyedUnarchiver::create(data);
    ASSERT_TRUE(unarchiver);
    EXPECT_EQ(unarchiver->decodeObjectForKey(QStringLiteral("name")).toString(), "first");
    EXPECT_EQ(unarchiver->decodeInt32ForKey(QStringLiteral("count")), -5);
    EXPECT_TRUE(unarchiver->decodeBoolForKey(QStringLiteral("$flag")));
    EXPECT_TRUE(unarchiver->containsValueForKey(QStringLiteral("nothing")));
    EXPECT_FALSE(unarchiver->decodeObjectForKey(QStringLiteral("nothing")).isValid());
    EXPECT_FALSE(unarchiver->containsValueForKey(QStringLiteral("missing")));
    EXPECT_EQ(unarchiver->decodeInt64ForKey(QStringLiteral("missing")), 0);
    EXPECT_FALSE(unarchiver->hasFailed());
    // User keys starting with "$" are escaped, so they never meet the archive's own.
    EXPECT_TRUE(envelope(data).value("$top").toMap().contains("$$flag"));
}

TEST(KeyedArchiver, NullRoundTripsAsTheSharedNullObject)
{
    const QVariant back = KeyedUnarchiver::unarchiveObjectWithData(
        KeyedArchiver::archivedDataWithRootObject(fromArray({fromObject(NullObject::shared()), fromSigned(1)})));
    ASSERT_EQ(back.toList().size(), 2);
    EXPECT_EQ(toObject(back.toList()[0]), NullObject::shared());
}

TEST(KeyedArchiver, RefusesValuesItCannotArchive)
{
    struct Row {
        const char* name;
        QVariant value;
    };
    const Row rows[] = {
        {"unsupported type", QVariant::fromValue(QSize(1, 2))},
        {"nil in an array", fromArray({fromSigned(1), QVariant()})},
        {"nil in a dictionary", fromDictionary({{"a", QVariant()}})},
        {"invalid date", fromArray({QVariant(QDateTime())})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        EXPECT_TRUE(KeyedArchiver::archivedDataWithRootObject(row.value).isNull());
        EXPECT_EQ(kelvaro::test::log().count("KeyedArchiver: "), 1);
    }
}

TEST(ClassRegistry, KnowsTheFoundationHierarchy)
{
    const ClassRegistry& registry = ClassRegistry::shared();
    EXPECT_EQ(registry.classChain("NSMutableArray"), QStringList({"NSMutableArray", "NSArray", "NSObject"}));
    EXPECT_EQ(registry.classChain("NSNumber"), QStringList({"NSNumber", "NSValue", "NSObject"}));
    EXPECT_TRUE(registry.isKindOf("NSMutableDictionary", "NSDictionary"));
    EXPECT_TRUE(registry.isKindOf("NSMutableString", "NSString"));
    EXPECT_FALSE(registry.isKindOf("NSString", "NSMutableString"));
    EXPECT_TRUE(registry.isKindOf("NSNull", "NSObject"));
}

// A stored archive read by a fresh unarchiver: fractions, text and dates come back as written, in any locale.
TEST(KeyedArchiver, StoredFileReadsBackThroughAFreshUnarchiver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("stored.archive"));
    const QVariant root = fromDictionary({{"half", fromReal(0.5)}, {"kelvin", fromReal(348.15)}, {"text", fromString("2,4")},
        {"when", fromDate(utc(1700000000123))}, {"gauge", fromObject(sampleGauge())}});
    ASSERT_TRUE(Paths::writeFileSafely(path, KeyedArchiver::archivedDataWithRootObject(root)));

    const QVariantMap back = KeyedUnarchiver::unarchiveObjectWithData(kelvaro::test::readFile(path), allowing({"KVTestGauge"})).toMap();
    for (const char* key : {"half", "kelvin", "text", "when"})
        EXPECT_TRUE(strictlyEqual(back.value(key), root.toMap().value(key))) << key;
    const auto gauge = objectAs<TestGauge>(toObject(back.value("gauge")));
    ASSERT_TRUE(gauge);
    EXPECT_EQ(gauge->reading, 61.25);
    EXPECT_EQ(gauge->ratio, 0.75f);
}
