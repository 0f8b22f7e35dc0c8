#include "platform/foundation/KeyedUnarchiver.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "tests/platform/foundation/KeyedTestClasses.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>

using namespace platform;
using namespace platform::values;
using kelvaro::test::readFile;
using kelvaro::test::testDataPath;
using kelvaro::test::TestGauge;

namespace {

// A stand-in NSValue that reads what the original wrote for a "[3i]" value: its type string as a C
// string, then the scalars as an old-style array.
class TestIntTriple final : public Archivable {
public:
    std::array<qint32, 3> values{};
    QString className() const override { return QStringLiteral("NSValue"); }
    void encodeWithCoder(Coder&) const override {}
    static ObjectRef decode(Coder& coder)
    {
        QByteArray type;
        if (!coder.decodeValueOfObjCType("*", &type) || type != "[3i]")
            return nullptr;
        auto value = std::make_shared<TestIntTriple>();
        if (!coder.decodeArrayOfObjCType('i', 3, value->values.data()))
            return nullptr;
        return value;
    }
};
KV_REGISTER_CLASS(QStringLiteral("NSValue"), QStringLiteral("NSObject"), 0, &TestIntTriple::decode);

QVariant uid(quint64 v) { return QVariant::fromValue(PlistUid{v}); }

QVariant classEntry(const QString& name, QStringList chain = {})
{
    if (chain.isEmpty())
        chain = QStringList{name, QStringLiteral("NSObject")};
    QVariantList classes;
    for (const QString& c : chain)
        classes.append(fromString(c));
    QVariantMap entry;
    entry.insert(QStringLiteral("$classname"), fromString(name));
    entry.insert(QStringLiteral("$classes"), fromArray(classes));
    return fromDictionary(entry);
}

QByteArray archiveOf(const QVariantList& objects, const QVariantMap& top = {{"root", uid(1)}},
    const QString& archiver = QStringLiteral("NSKeyedArchiver"))
{
    QVariantList all{fromString("$null")};
    all += objects;
    return writePropertyList(fromDictionary({{"$archiver", fromString(archiver)}, {"$version", fromSigned(100000)},
                                 {"$top", fromDictionary(top)}, {"$objects", fromArray(all)}}),
        PlistFormat::Binary);
}

UnarchiveOptions allowing(const QStringList& classes)
{
    UnarchiveOptions options;
    options.allowedClasses = classes;
    return options;
}

UnarchiveOptions generic()
{
    UnarchiveOptions options;
    options.generic = true;
    return options;
}

QVariant decodeSample(const QString& name, const UnarchiveOptions& options = {})
{
    return KeyedUnarchiver::unarchiveObjectWithData(readFile(testDataPath("archives/keyed/" + name)), options);
}

QVariantList sortedIntegers(QVariantList list)
{
    std::sort(list.begin(), list.end(), [](const QVariant& a, const QVariant& b) { return a.toLongLong() < b.toLongLong(); });
    return list;
}

} // namespace

TEST(KeyedUnarchiver, DecodesArrayTestWithItsSharedString)
{
    const QVariant value = decodeSample("NSKeyedUnarchiver-ArrayTest.plist");
    EXPECT_TRUE(strictlyEqual(value, fromArray({fromString("baa"), fromString("baa"), fromString("black"), fromString("sheep")})));
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(KeyedUnarchiver, DecodesNotificationTestGenericallyButNotUnallowed)
{
    const QVariantMap notification = decodeSample("NSKeyedUnarchiver-NotificationTest.plist", generic()).toMap();
    EXPECT_EQ(notification.value("$class").toString(), "NSNotification");
    EXPECT_EQ(notification.value("NS.name").toString(), "notification-name");
    EXPECT_EQ(notification.value("NS.object").toString(), "notification-object");
    EXPECT_TRUE(strictlyEqual(notification.value("NS.userinfo"), fromDictionary({{"notification-key", fromString("notification-val")}})));

    EXPECT_FALSE(decodeSample("NSKeyedUnarchiver-NotificationTest.plist").isValid());
    EXPECT_EQ(kelvaro::test::log().lines(), QStringList({"KeyedUnarchiver: class NSNotification is not allowed\n"}));
}

TEST(KeyedUnarchiver, DecodesConcreteValueOldStyleArray)
{
    const QVariantMap value = decodeSample("NSKeyedUnarchiver-ConcreteValueTest.plist", generic()).toMap();
    EXPECT_EQ(value.value("$class").toString(), "NSValue");
    EXPECT_EQ(value.value("$0").toString(), "[3i]");
    const QVariantMap array = value.value("$1").toMap();
    EXPECT_EQ(array.value("$class").toString(), "_NSKeyedCoderOldStyleArray");
    EXPECT_EQ(array.value("NS.count").toLongLong(), 3);
    EXPECT_EQ(array.value("NS.size").toLongLong(), 4);
    EXPECT_EQ(array.value("NS.type").toLongLong(), 'i');
    EXPECT_EQ(QVariantList({array.value("$0"), array.value("$1"), array.value("$2")}),
        QVariantList({fromSigned(1), fromSigned(2), fromSigned(3)}));

    // The same archive through a decoder that makes sequential calls.
    const auto triple = objectAs<TestIntTriple>(toObject(decodeSample("NSKeyedUnarchiver-ConcreteValueTest.plist", allowing({"NSValue"}))));
    ASSERT_TRUE(triple);
    EXPECT_EQ(triple->values, (std::array<qint32, 3>{1, 2, 3}));
}

TEST(KeyedUnarchiver, DecodesEveryMacOSFixtureGenerically)
{
    const QDir dir(testDataPath("archives/keyed/macOS-10.14"));
    const QStringList names = dir.entryList({"*.archive"});
    ASSERT_EQ(names.size(), 30);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(kindOf(decodeSample("macOS-10.14/" + name, generic())), Kind::Dictionary);
    }
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty()) << kelvaro::test::log().lines().join("").toStdString();

    const QVariantList oneToFive{fromSigned(1), fromSigned(2), fromSigned(3), fromSigned(4), fromSigned(5)};
    const QVariantMap set = decodeSample("macOS-10.14/NSSet-Numbers.archive", generic()).toMap();
    EXPECT_EQ(set.value("$class").toString(), "NSSet");
    EXPECT_EQ(sortedIntegers(set.value("NS.objects").toList()), oneToFive);

    const QVariantMap ordered = decodeSample("macOS-10.14/NSMutableOrderedSet-Numbers.archive", generic()).toMap();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ordered.value(QStringLiteral("NS.object.%1").arg(i)).toLongLong(), i + 1);

    const QVariantMap counted = decodeSample("macOS-10.14/NSCountedSet-NumbersAppearingSeveralTimes.archive", generic()).toMap();
    EXPECT_EQ(counted.value("NS.count").toLongLong(), 5);
    EXPECT_EQ(counted.value("NS.count3").toLongLong(), 5);

    const QVariantMap indexSet = decodeSample("macOS-10.14/NSMutableIndexSet-ManyRanges.archive", generic()).toMap();
    EXPECT_EQ(indexSet.value("NSRangeCount").toLongLong(), 4);
    EXPECT_EQ(toData(indexSet.value("NSRangeData")),
        QByteArray("\x00" "2d2\xe8\x07" "2\xcd\xff\xff\xff\xff\xff\xff\xff\x7f" "2", 17));

    const QVariantMap formatter = decodeSample("macOS-10.14/DateIntervalFormatter-Default.archive", generic()).toMap();
    const QVariantMap calendar = formatter.value("NS.calendar").toMap();
    EXPECT_EQ(calendar.value("$class").toString(), "NSCalendar");
    EXPECT_EQ(calendar.value("NS.identifier").toString(), "gregorian");
    EXPECT_EQ(toDate(calendar.value("NS.gstartdate")), QDateTime(QDate(1582, 10, 15), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(formatter.value("NS.timeZone").toMap().value("NS.name").toString(), "GMT");
    EXPECT_EQ(kindOf(formatter.value("NS.modified")), Kind::Bool);

    const QVariantMap measurement = decodeSample("macOS-10.14/NSMeasurement-Frequency.archive", generic()).toMap();
    EXPECT_EQ(kindOf(measurement.value("NS.value")), Kind::Real);
    EXPECT_EQ(measurement.value("NS.value").toDouble(), 1400.0);
    const QVariantMap unit = measurement.value("NS.unit").toMap();
    EXPECT_EQ(unit.value("NS.symbol").toString(), "MHz");
    EXPECT_EQ(unit.value("NS.converter").toMap().value("NS.coefficient").toDouble(), 1e6);
}

// Real archives stay well inside the expansion budget: each decodes within half of it.
TEST(KeyedUnarchiver, RealArchivesDecodeWithinHalfTheExpansionBudget)
{
    UnarchiveOptions half = generic();
    half.limits.expansionFloor /= 2;
    half.limits.expansionPerByte /= 2;
    QStringList names;
    for (const QString& name : QDir(testDataPath("archives/keyed/macOS-10.14")).entryList({"*.archive"}))
        names.append("macOS-10.14/" + name);
    names += QDir(testDataPath("archives/keyed")).entryList({"*.plist", "*.bplist"});
    ASSERT_GT(names.size(), 30);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(decodeSample(name, half).isValid());
    }
}

TEST(KeyedUnarchiver, DecodesOtherRealArchivesGenerically)
{
    const QVariantMap colour = decodeSample("Solarized_Dark_2011-03-22.BackgroundColor.keyed.bplist", generic()).toMap();
    EXPECT_EQ(colour.value("$class").toString(), "NSColor");
    EXPECT_EQ(colour.value("NSColorSpace").toLongLong(), 2);
    EXPECT_EQ(toData(colour.value("NSRGB")), QByteArray("0 0.1686274558 0.2117647231 0.96\0", 33));

    const QVariantMap font = decodeSample("Solarized_Dark_2011-03-22.Font.keyed.bplist", generic()).toMap();
    EXPECT_EQ(font.value("NSName").toString(), "Menlo-Regular");
    EXPECT_EQ(font.value("NSSize").toDouble(), 11.0);

    const QVariantMap ordered = decodeSample("NSKeyedUnarchiver-OrderedSetTest.plist", generic()).toMap();
    EXPECT_EQ(ordered.value("NS.object.0").toString(), "valgeir");
    EXPECT_EQ(ordered.value("NS.object.2").toString(), "puzzle");
}

TEST(KeyedUnarchiver, DecodesMutableVariantsAndNull)
{
    const QByteArray archive = archiveOf({
        fromDictionary({{"NS.objects", fromArray({uid(3), uid(5), uid(7), uid(9)})}, {"$class", uid(2)}}),
        classEntry("NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"}),
        fromDictionary({{"NS.string", fromString("mutable")}, {"$class", uid(4)}}),
        classEntry("NSMutableString", {"NSMutableString", "NSString", "NSObject"}),
        fromDictionary({{"NS.data", fromData("bytes")}, {"$class", uid(6)}}),
        classEntry("NSMutableData", {"NSMutableData", "NSData", "NSObject"}),
        fromDictionary({{"NS.keys", fromArray({})}, {"NS.objects", fromArray({})}, {"$class", uid(8)}}),
        classEntry("NSMutableDictionary", {"NSMutableDictionary", "NSDictionary", "NSObject"}),
        fromDictionary({{"$class", uid(10)}}),
        classEntry("NSNull"),
    });
    const QVariantList list = KeyedUnarchiver::unarchiveObjectWithData(archive).toList();
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(toString(list[0]), "mutable");
    EXPECT_EQ(toData(list[1]), "bytes");
    EXPECT_EQ(toDictionary(list[2]), QVariantMap());
    EXPECT_EQ(toObject(list[3])->className(), "NSNull");

    const QVariantList generically = KeyedUnarchiver::unarchiveObjectWithData(archive, generic()).toList();
    ASSERT_EQ(generically.size(), 4);
    EXPECT_TRUE(strictlyEqual(generically[3], fromDictionary({{"$class", fromString("NSNull")}})));
}

TEST(KeyedUnarchiver, AllowsSubclassesOfAllowedClasses)
{
    auto sub = std::make_shared<kelvaro::test::TestSubGauge>();
    sub->name = QStringLiteral("sub");
    const QByteArray archive = KeyedArchiver::archivedDataWithRootObject(fromObject(sub));
    const auto decoded = objectAs<kelvaro::test::TestSubGauge>(
        toObject(KeyedUnarchiver::unarchiveObjectWithData(archive, allowing({"KVTestGauge"}))));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->name, "sub");
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());

    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(archive, allowing({"KVTestRejecting"})).isValid());
    EXPECT_EQ(kelvaro::test::log().lines(), QStringList({"KeyedUnarchiver: class KVTestSubGauge is not allowed\n"}));
}

TEST(KeyedUnarchiver, DecoderFailureFailsTheWholeArchive)
{
    const QByteArray archive = KeyedArchiver::archivedDataWithRootObject(
        fromArray({fromSigned(1), fromObject(std::make_shared<kelvaro::test::TestRejecting>())}));
    EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(archive, allowing({"KVTestRejecting"})).isValid());
    EXPECT_EQ(kelvaro::test::log().lines(), QStringList({"KeyedUnarchiver: KVTestRejecting of an unknown version\n"}));
}

TEST(KeyedUnarchiver, RejectsHostileArchives)
{
    const QVariant gaugeClass = classEntry("KVTestGauge");
    const QVariant arrayClass = classEntry("NSArray");
    QVariantList deep;
    for (int i = 1; i <= 300; ++i)
        deep.append(fromDictionary({{"NS.objects", fromArray({uid(quint64(i) + 1)})}, {"$class", uid(302)}}));
    deep.append(fromSigned(1));
    deep.append(arrayClass);
    QVariantList wide;
    for (int i = 0; i < 200; ++i)
        wide.append(uid(2));
    // Forty arrays each holding the next twice: shared objects decode once, but 2^40 values to a walk.
    QVariantList doubling;
    for (int i = 1; i <= 40; ++i)
        doubling.append(fromDictionary({{"NS.objects", fromArray({uid(quint64(i) + 1), uid(quint64(i) + 1)})}, {"$class", uid(42)}}));
    doubling.append(fromString("leaf"));
    doubling.append(arrayClass);
    // Seventeen levels over an empty array: 2^18 values from 2 KB, which a floor of 4 MiB admitted.
    QVariantList doubling18;
    for (int i = 1; i <= 17; ++i)
        doubling18.append(fromDictionary({{"NS.objects", fromArray({uid(quint64(i) + 1), uid(quint64(i) + 1)})}, {"$class", uid(19)}}));
    doubling18.append(fromDictionary({{"NS.objects", fromArray({})}, {"$class", uid(19)}}));
    doubling18.append(arrayClass);
    // 4000 references to one object holding 2000 values inline: its values count at every reference.
    const QVariantList blob{
        fromDictionary({{"NS.objects", fromArray(QVariantList(4000, uid(2)))}, {"$class", uid(4)}}),
        fromDictionary({{"values", fromArray(QVariantList(2000, fromSigned(1)))}, {"$class", uid(3)}}),
        classEntry("KVBlob"), arrayClass};
    UnarchiveOptions fewElements;
    fewElements.limits.maxElements = 100;
    UnarchiveOptions fewObjects;
    fewObjects.limits.maxObjects = 10;
    UnarchiveOptions smallData;
    smallData.limits.maxDataBytes = 16;
    UnarchiveOptions gauges = allowing({"KVTestGauge"});
    // A gauge archive whose sequential part is replaced.
    const auto gaugeWith = [&](const QVariantMap& replacement) {
        QVariantMap gauge{{"$class", uid(2)}};
        for (auto it = replacement.cbegin(); it != replacement.cend(); ++it)
            gauge.insert(it.key(), it.value());
        return archiveOf({fromDictionary(gauge), gaugeClass,
            fromDictionary({{"NS.count", fromSigned(qint64(1) << 40)}, {"NS.size", fromSigned(4)}, {"NS.type", fromSigned('i')},
                {"$class", uid(4)}}),
            classEntry("_NSKeyedCoderOldStyleArray"), fromString("text"), fromSigned(7)});
    };

    struct Row {
        const char* name;
        QByteArray archive;
        UnarchiveOptions options;
        QString reason;
    };
    const Row rows[] = {
        {"not a property list", "garbage", {}, "archive is no property list"},
        {"no keyed archive", archiveOf({fromSigned(1)}, {{"root", uid(1)}}, "Other"), {}, "no keyed archive"},
        {"no $null first", writePropertyList(fromDictionary({{"$archiver", fromString("NSKeyedArchiver")},
            {"$version", fromSigned(100000)}, {"$top", fromDictionary({})}, {"$objects", fromArray({fromSigned(1)})}}), PlistFormat::Binary),
            {}, "no $top or $objects"},
        {"no root", archiveOf({fromSigned(1)}, {{"other", uid(1)}}), {}, "no root object"},
        {"root out of range", archiveOf({fromSigned(1)}, {{"root", uid(99)}}), {}, "object reference 99 is out of range"},
        {"root is no reference", archiveOf({fromSigned(1)}, {{"root", fromSigned(1)}}), {}, "is no object reference"},
        {"array containing itself", archiveOf({fromDictionary({{"NS.objects", fromArray({uid(1)})}, {"$class", uid(2)}}), arrayClass}),
            {}, "object 1 contains itself"},
        {"arrays containing each other", archiveOf({fromDictionary({{"NS.objects", fromArray({uid(3)})}, {"$class", uid(2)}}), arrayClass,
            fromDictionary({{"NS.objects", fromArray({uid(1)})}, {"$class", uid(2)}})}), {}, "contains itself"},
        {"gauge containing itself", archiveOf({fromDictionary({{"child", uid(1)}, {"$class", uid(2)}}), gaugeClass}), gauges,
            "object 1 contains itself"},
        {"element out of range", archiveOf({fromDictionary({{"NS.objects", fromArray({uid(7)})}, {"$class", uid(2)}}), arrayClass}),
            {}, "object reference 7 is out of range"},
        {"class out of range", archiveOf({fromDictionary({{"NS.objects", fromArray({})}, {"$class", uid(9)}})}), {},
            "class reference 9 is out of range"},
        {"class that is a string", archiveOf({fromDictionary({{"$class", uid(2)}}), fromString("NSArray")}), {},
            "object 2 is no class description"},
        {"object without class", archiveOf({fromDictionary({{"NS.objects", fromArray({})}})}), generic(), "object has no class"},
        {"object that is an array", archiveOf({fromArray({})}), {}, "object 1 is no archived object"},
        {"dictionary key not a string", archiveOf({fromDictionary({{"NS.keys", fromArray({uid(3)})}, {"NS.objects", fromArray({uid(3)})},
            {"$class", uid(2)}}), classEntry("NSDictionary"), fromSigned(4)}), {}, "has a key that is no string"},
        {"unmatched dictionary", archiveOf({fromDictionary({{"NS.keys", fromArray({})}, {"NS.objects", fromArray({uid(0)})},
            {"$class", uid(2)}}), classEntry("NSDictionary")}), {}, "no matching NS.keys"},
        {"array holding nil", archiveOf({fromDictionary({{"NS.objects", fromArray({uid(0)})}, {"$class", uid(2)}}), arrayClass}), {},
            "holds nil"},
        {"date without time", archiveOf({fromDictionary({{"NS.time", fromString("now")}, {"$class", uid(2)}}), classEntry("NSDate")}),
            {}, "NSDate 1 has no valid time"},
        {"class without decoder", archiveOf({fromDictionary({{"$class", uid(2)}}), classEntry("KVUnknown")}), allowing({"KVUnknown"}),
            "class KVUnknown has no decoder"},
        {"nesting past the limit", archiveOf(deep), {}, "objects nest deeper than 200"},
        {"shared arrays expanding past the archive's size", archiveOf(doubling), {}, "archive expands to more than"},
        {"reproducer of sixty doubling levels", readFile(testDataPath("hostile/keyed-archive-shared-nesting-60.bplist")), {},
            "archive expands to more than"},
        {"small archive of 262k values", archiveOf(doubling18), {}, "archive expands to more than"},
        {"shared object with inline values", archiveOf(blob), generic(), "archive expands to more than"},
        {"array past the element limit", archiveOf({fromDictionary({{"NS.objects", fromArray(wide)}, {"$class", uid(3)}}),
            fromSigned(1), arrayClass}), fewElements, "array size of 200 exceeds the limit of 100"},
        {"archive past the object limit", archiveOf(QVariantList(20, fromSigned(1))), fewObjects, "object count of 21 exceeds the limit of 10"},
        {"data past the size limit", archiveOf({fromData(QByteArray(17, 'x'))}), smallData, "data size of 17 exceeds the limit of 16"},
        {"old-style array of another count", gaugeWith({{"$0", uid(3)}}), gauges, "archive holds no array of type [5i]"},
        {"old-style array missing", gaugeWith({{"$0", uid(0)}}), gauges, "sequential array reference is missing"},
        {"name that is no reference", gaugeWith({{"name", fromSigned(5)}}), gauges, "is no object reference"},
        {"string where a number was asked for", gaugeWith({{"name", uid(5)}, {"count", fromString("x")}}), gauges,
            "value for key \"count\" is no integer"},
        {"number where a string was asked for", gaugeWith({{"name", uid(6)}}), gauges,
            "object of class NSNumber for key \"name\" where NSString was expected"},
        {"32-bit value too large", gaugeWith({{"count", fromSigned(qint64(1) << 40)}}), gauges, "does not fit in 32 bits"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_FALSE(row.archive.isEmpty());
        kelvaro::test::log().clear();
        EXPECT_FALSE(KeyedUnarchiver::unarchiveObjectWithData(row.archive, row.options).isValid());
        const QStringList lines = kelvaro::test::log().lines();
        ASSERT_EQ(lines.size(), 1) << lines.join("").toStdString();
        EXPECT_TRUE(lines[0].startsWith("KeyedUnarchiver: ") && lines[0].endsWith("\n"));
        EXPECT_TRUE(lines[0].contains(row.reason)) << lines[0].toStdString();
    }
}

// A value shared by a shallow and a deep reference passes the depth limit where it is met first.
TEST(KeyedUnarchiver, ASharedValueMeetsTheDepthLimitWhereItIsFirstReferred)
{
    const QVariant arrayClass = classEntry("NSArray");
    // Objects 3 and 4 are arrays nesting down to object 2, a string; the root array refers to 2 and 3.
    const auto archive = [&](const QVariantList& rootItems) {
        return archiveOf({fromDictionary({{"NS.objects", fromArray(rootItems)}, {"$class", uid(5)}}), fromString("shared"),
            fromDictionary({{"NS.objects", fromArray({uid(4)})}, {"$class", uid(5)}}),
            fromDictionary({{"NS.objects", fromArray({uid(2)})}, {"$class", uid(5)}}), arrayClass});
    };
    UnarchiveOptions shallow;
    shallow.limits.maxDepth = 3;
    const QVariant nested = fromArray({fromArray({fromString("shared")})});
    const struct {
        const char* name;
        QVariantList rootItems;
        QVariant decoded; // nil: refused
    } rows[] = {
        {"shallow reference first", {uid(2), uid(3)}, fromArray({fromString("shared"), nested})},
        {"deep reference first", {uid(3), uid(2)}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        const QVariant value = KeyedUnarchiver::unarchiveObjectWithData(archive(row.rootItems), shallow);
        EXPECT_EQ(value, row.decoded);
        EXPECT_EQ(kelvaro::test::log().lines().size(), row.decoded.isValid() ? 0 : 1);
    }
}

TEST(KeyedUnarchiver, InstanceApiFailsForGoodAfterAFailure)
{
    const QByteArray archive = archiveOf({fromDictionary({{"NS.objects", fromArray({uid(1)})}, {"$class", uid(2)}}), classEntry("NSArray"),
                                             fromString("fine")},
        {{"bad", uid(1)}, {"good", uid(3)}});
    const auto unarchiver = KeyedUnarchiver::create(archive);
    ASSERT_TRUE(unarchiver);
    EXPECT_EQ(unarchiver->decodeObjectForKey("good").toString(), "fine");
    EXPECT_FALSE(unarchiver->decodeObjectForKey("bad").isValid());
    EXPECT_TRUE(unarchiver->hasFailed());
    EXPECT_FALSE(unarchiver->decodeObjectForKey("good").isValid());
    EXPECT_FALSE(KeyedUnarchiver::create("bplist00"));
}

// Corrupt, truncated and cyclic variants of real and self-made archives, generated from a fixed seed:
// none may crash or log more than one line.
TEST(KeyedUnarchiver, SurvivesGeneratedCorruptArchives)
{
    QList<QByteArray> samples;
    const QDir dir(testDataPath("archives/keyed/macOS-10.14"));
    for (const QString& name : dir.entryList({"*.archive"}))
        samples.append(readFile(dir.filePath(name)));
    for (const char* name : {"NSKeyedUnarchiver-ArrayTest.plist", "NSKeyedUnarchiver-NotificationTest.plist",
             "NSKeyedUnarchiver-ConcreteValueTest.plist", "Solarized_Dark_2011-03-22.BackgroundColor.keyed.bplist"})
        samples.append(readFile(testDataPath(QStringLiteral("archives/keyed/") + name)));
    auto gauge = std::make_shared<TestGauge>();
    gauge->child = fromObject(std::make_shared<TestGauge>());
    gauge->extra = fromDictionary({{"list", fromArray({fromSigned(1), fromDate(QDateTime::fromSecsSinceEpoch(0, Qt::UTC))})}});
    samples.append(KeyedArchiver::archivedDataWithRootObject(fromArray({fromObject(gauge), gauge->child, fromString("x")})));

    UnarchiveOptions normal = allowing({"KVTestGauge", "NSValue"});
    int decoded = 0;
    int rejected = 0;
    const auto decodeBoth = [&](const QByteArray& bytes) {
        for (const UnarchiveOptions& options : {normal, generic()}) {
            kelvaro::test::log().clear();
            decoded += KeyedUnarchiver::unarchiveObjectWithData(bytes, options).isValid() ? 1 : 0;
            const qsizetype lines = kelvaro::test::log().lines().size();
            EXPECT_LE(lines, 1);
            rejected += lines > 0 ? 1 : 0;
        }
    };

    QRandomGenerator random(424242);
    const auto randomUid = [&](qsizetype objectCount) { return uid(random.bounded(quint32(objectCount + 3))); };
    for (const QByteArray& sample : samples) {
        // Byte level: truncations and flipped bytes.
        for (int round = 0; round < 40; ++round) {
            QByteArray bytes = sample.left(random.bounded(int(sample.size())));
            decodeBoth(bytes);
            bytes = sample;
            for (int i = 0, n = 1 + int(random.bounded(3)); i < n; ++i)
                bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
            decodeBoth(bytes);
        }
        // Structure level: references pointed anywhere (cycles, nil, out of range), values of other kinds.
        const QVariantMap archive = readPropertyList(sample).value.toMap();
        ASSERT_FALSE(archive.isEmpty());
        for (int round = 0; round < 60; ++round) {
            QVariantList objects = archive.value("$objects").toList();
            for (int m = 0, n = 1 + int(random.bounded(3)); m < n; ++m) {
                const qsizetype index = 1 + random.bounded(int(objects.size() - 1));
                QVariantMap object = objects[index].toMap();
                if (object.isEmpty()) {
                    objects[index] = random.bounded(2) ? randomUid(objects.size()) : fromArray({randomUid(objects.size())});
                    continue;
                }
                const QStringList keys = object.keys();
                const QString key = keys[random.bounded(int(keys.size()))];
                QVariant& value = object[key];
                switch (random.bounded(5)) {
                case 0: value = randomUid(objects.size()); break;
                case 1: value = fromArray({randomUid(objects.size()), randomUid(objects.size())}); break;
                case 2: value = fromSigned(qint64(random.generate64())); break;
                case 3: value = fromString("mutated"); break;
                default: object.remove(key); break;
                }
                objects[index] = fromDictionary(object);
            }
            QVariantMap mutated = archive;
            mutated.insert("$objects", fromArray(objects));
            decodeBoth(writePropertyList(fromDictionary(mutated), PlistFormat::Binary));
        }
    }
    // Both outcomes occur, so the mutations reach past the envelope checks.
    EXPECT_GT(decoded, 500);
    EXPECT_GT(rejected, 500);
}
