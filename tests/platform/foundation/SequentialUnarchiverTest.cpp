#include "platform/foundation/SequentialUnarchiver.h"

#include "platform/foundation/Color.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <QVariantMap>
#include <QtEndian>

#include <gtest/gtest.h>

#include <random>

using namespace platform;

namespace {

QByteArray sample(const QString& name)
{
    return kelvaro::test::readFile(kelvaro::test::testDataPath(QStringLiteral("archives/typedstream/") + name));
}

UnarchiveOptions genericOptions()
{
    UnarchiveOptions options;
    options.generic = true;
    return options;
}

QVariantMap generic(const QString& className, const QVariantList& coded)
{
    QVariantMap map{{QStringLiteral("$class"), values::fromString(className)}};
    for (qsizetype i = 0; i < coded.size(); ++i)
        map.insert(QStringLiteral("$%1").arg(i), coded[i]);
    return map;
}

const QByteArray kHeader("\x04\x0bstreamtyped\x81\xe8\x03", 16);

} // namespace

TEST(SequentialUnarchiver, DecodesTheStringSample)
{
    const QByteArray data = sample(QStringLiteral("NSString_string_value.typedstream"));
    EXPECT_EQ(SequentialUnarchiver::unarchiveObjectWithData(data), values::fromString(QStringLiteral("string value")));

    SequentialUnarchiver unarchiver(data);
    EXPECT_FALSE(unarchiver.allowsKeyedCoding());
    EXPECT_TRUE(values::strictlyEqual(unarchiver.decodeObject(), values::fromString(QStringLiteral("string value"))));
    EXPECT_EQ(unarchiver.versionForClassName(QStringLiteral("NSString")), 1);
    EXPECT_EQ(unarchiver.versionForClassName(QStringLiteral("NSObject")), 0);
    EXPECT_TRUE(unarchiver.atEnd());
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(SequentialUnarchiver, DecodesUrlSamplesGenerically)
{
    const QVariantMap absolute = generic(QStringLiteral("NSURL"),
        {values::fromSigned(0), values::fromString(QStringLiteral("https://example.com/index.html"))});
    const QVariantMap base = generic(QStringLiteral("NSURL"),
        {values::fromSigned(0), values::fromString(QStringLiteral("https://example.com/"))});
    const QVariantMap relative = generic(QStringLiteral("NSURL"),
        {values::fromSigned(1), values::fromDictionary(base), values::fromString(QStringLiteral("index.html"))});

    EXPECT_TRUE(values::strictlyEqual(
        SequentialUnarchiver::unarchiveObjectWithData(sample(QStringLiteral("NSURL_absolute.typedstream")), genericOptions()),
        values::fromDictionary(absolute)));
    EXPECT_TRUE(values::strictlyEqual(
        SequentialUnarchiver::unarchiveObjectWithData(sample(QStringLiteral("NSURL_relative.typedstream")), genericOptions()),
        values::fromDictionary(relative)));
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());

    // Without generic mode a class that nobody allowed fails the archive.
    EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(sample(QStringLiteral("NSURL_absolute.typedstream"))).isValid());
    EXPECT_EQ(kelvaro::test::log().lines(), QStringList{QStringLiteral("SequentialUnarchiver: class NSURL is not allowed\n")});
}

TEST(SequentialUnarchiver, DecodesEveryColourOfTheEmacsColourListGenerically)
{
    SequentialUnarchiver unarchiver(sample(QStringLiteral("Emacs.clr")), genericOptions());
    // The colour list writes a version, a nil key and the count, then (colour, name) pairs.
    EXPECT_EQ(unarchiver.decodeNextValues(), QVariantList{values::fromSigned(1)});
    const auto head = unarchiver.decodeNextValues();
    ASSERT_TRUE(head);
    ASSERT_EQ(head->size(), 2);
    EXPECT_FALSE(head->at(0).isValid());
    EXPECT_EQ(head->at(1), values::fromSigned(752));

    QVariantMap byName;
    int count = 0;
    while (!unarchiver.atEnd()) {
        const auto pair = unarchiver.decodeNextValues();
        ASSERT_TRUE(pair);
        ASSERT_EQ(pair->size(), 2);
        const QVariantMap color = values::toDictionary(pair->at(0)).value_or(QVariantMap());
        EXPECT_EQ(color.value(QStringLiteral("$class")), values::fromString(QStringLiteral("NSColor")));
        byName.insert(values::toString(pair->at(1)).value_or(QString()), color);
        ++count;
    }
    EXPECT_FALSE(unarchiver.hasFailed());
    EXPECT_EQ(count, 752);

    const QVariantMap lightGreen = byName.value(QStringLiteral("LightGreen")).toMap();
    EXPECT_EQ(lightGreen.value(QStringLiteral("$0")), values::fromSigned(1)); // calibrated RGB
    EXPECT_EQ(lightGreen.value(QStringLiteral("$1")).toDouble(), double(float(144 / 255.0)));
    EXPECT_EQ(lightGreen.value(QStringLiteral("$2")).toDouble(), double(float(238 / 255.0)));
    EXPECT_EQ(lightGreen.value(QStringLiteral("$3")).toDouble(), double(float(144 / 255.0)));
    EXPECT_EQ(lightGreen.value(QStringLiteral("$4")).toDouble(), 1.0);
}

TEST(SequentialUnarchiver, DecodesTheEmacsColourListThroughTheColourClass)
{
    UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("NSColor")};
    SequentialUnarchiver unarchiver(sample(QStringLiteral("Emacs.clr")), options);
    qint32 version = 0;
    qint32 count = 0;
    QVariant key;
    ASSERT_TRUE(unarchiver.decodeValueOfObjCType("i", &version));
    void* head[] = {&key, &count};
    ASSERT_TRUE(unarchiver.decodeValuesOfObjCTypes("@i", head));
    ASSERT_EQ(count, 752);

    std::shared_ptr<Color> lightGreen;
    for (qint32 i = 0; i < count; ++i) {
        QVariant color;
        QVariant name;
        void* pair[] = {&color, &name};
        ASSERT_TRUE(unarchiver.decodeValuesOfObjCTypes("@@", pair));
        ASSERT_TRUE(objectAs<Color>(values::toObject(color)));
        if (name == values::fromString(QStringLiteral("LightGreen")))
            lightGreen = objectAs<Color>(values::toObject(color));
    }
    EXPECT_TRUE(unarchiver.atEnd());
    ASSERT_TRUE(lightGreen);
    EXPECT_EQ(lightGreen->colorSpace(), Color::Space::CalibratedRGB);
    EXPECT_FLOAT_EQ(lightGreen->red(), float(144 / 255.0));
    EXPECT_FLOAT_EQ(lightGreen->green(), float(238 / 255.0));
    EXPECT_FLOAT_EQ(lightGreen->blue(), float(144 / 255.0));
    EXPECT_EQ(lightGreen->alpha(), 1.0f);
}

TEST(SequentialUnarchiver, DecodesGrapherDocumentsGenerically)
{
    struct Row {
        const char* file;
        double width, height;
    };
    const Row rows[] = {{"Empty2D_macOS_10.14.gcx", 1920, 992}, {"Empty2D_macOS_13.gcx", 1038, 645}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        const QByteArray data = sample(QLatin1String(row.file));
        const auto root = values::toDictionary(SequentialUnarchiver::unarchiveObjectWithData(data, genericOptions()));
        ASSERT_TRUE(root);
        EXPECT_EQ(root->size(), 11);
        EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());

        const QVariantMap windowSize = root->value(QStringLiteral("DocumentWindowSize")).toMap();
        EXPECT_EQ(windowSize.value(QStringLiteral("$class")), values::fromString(QStringLiteral("NSValue")));
        EXPECT_EQ(windowSize.value(QStringLiteral("$0")), values::fromData("{CGSize=dd}"));
        EXPECT_TRUE(values::strictlyEqual(windowSize.value(QStringLiteral("$1")),
                                          values::fromArray({values::fromReal(row.width), values::fromReal(row.height)})));

        const QVariantMap settings = root->value(QStringLiteral("Settings")).toMap();
        EXPECT_TRUE(values::strictlyEqual(settings.value(QStringLiteral("DefaultRombergOrder")), values::fromSigned(5)));
        EXPECT_TRUE(values::strictlyEqual(settings.value(QStringLiteral("DefaultNumberRemoveTrailingZeros")), values::fromBool(true)));
        EXPECT_TRUE(values::strictlyEqual(settings.value(QStringLiteral("DefaultDerivativeEpsilon")), values::fromReal(0.01)));
        EXPECT_TRUE(values::strictlyEqual(settings.value(QStringLiteral("NSDecimalSeparator")), values::fromString(QStringLiteral(","))));
        EXPECT_EQ(root->value(QStringLiteral("DefinitionTree")).toMap().value(QStringLiteral("$class")),
                  values::fromString(QStringLiteral("CPDefinitionTree")));

        // The most shared of our real samples (14.5 cost per byte) still decodes within half the budget.
        UnarchiveOptions half = genericOptions();
        half.limits.expansionFloor /= 2;
        half.limits.expansionPerByte /= 2;
        EXPECT_TRUE(SequentialUnarchiver::unarchiveObjectWithData(data, half).isValid());
    }
}

// An archive body after the header, from a string literal that may hold NULs.
#define ARCHIVE(body) (kHeader + QByteArray(body, sizeof(body) - 1))

TEST(SequentialUnarchiver, RejectsBadInputWithOneLogLine)
{
    struct Row {
        const char* name;
        QByteArray data;
        bool root; // decoded as a root object, else group by group
        const char* reason;
    };
    const Row rows[] = {
        {"empty", QByteArray(), true, "not a typedstream archive"},
        {"other signature", QByteArray("\x04\x0btypedstream\x81\xe8\x03"), true, "not a typedstream archive"},
        {"header only", kHeader, true, "archive ends early"},
        {"root of another type", ARCHIVE("\x84\x01i\x05"), true, "type mismatch: archive has \"i\", asked for \"@\""},
        {"string ends early", ARCHIVE("\x84\x01@\x84\x84\x84\x08NSString\x01\x85\x84\x01+\x0cstring"), true, "archive ends early"},
        {"array count beyond the input", ARCHIVE("\x84\x0a[1000000i]\x01\x02\x03\x04"), false, "archive ends early"},
        {"array count beyond the limit", ARCHIVE("\x84\x0b[99999999i]\x01\x02"), false, "array of 99999999 elements exceeds the limit"},
        {"byte array beyond the input", ARCHIVE("\x84\x0a[1000000c]\x01\x02"), false, "archive ends early"},
        // An NSArray claiming a million elements.
        {"container count", ARCHIVE("\x84\x01@\x84\x84\x84\x07NSArray\x00\x85\x84\x01i\x82\x40\x42\x0f\x00"), true, "archive ends early"},
        {"data length", ARCHIVE("\x84\x01@\x84\x84\x84\x06NSData\x00\x85\x84\x01i\x82\xff\xff\xff\x7f"), true, "data of 2147483647 bytes exceeds the limit"},
        {"string length", ARCHIVE("\x84\x82\xff\xff\xff\x7f"), true, "string of 2147483647 bytes exceeds the limit"},
        {"negative length", ARCHIVE("\x84\xff@"), true, "string of -1 bytes exceeds the limit"},
        {"type reference out of range", ARCHIVE("\x9a"), false, "string reference 8 out of range"},
        {"object reference out of range", ARCHIVE("\x84\x01@\x99"), true, "object reference 7 out of range"},
        {"class reference to a C string", ARCHIVE("\x84\x01*\x84\x84\x01q\x84\x01@\x84\x92"), false, "class reference 0 out of range"},
        // An NSArray whose element is the array itself.
        {"reference cycle", ARCHIVE("\x84\x01@\x84\x84\x84\x07NSArray\x00\x84\x84\x08NSObject\x00\x85\x84\x01i\x01\x92\x92\x86"), true,
         "reference cycle through object 0"},
        {"integer tag", ARCHIVE("\x84\x01i\x88"), false, "unexpected tag 0x88 where an integer belongs"},
        {"reference tag", ARCHIVE("\x84\x01@\x90"), true, "unexpected tag 0x90 where a reference belongs"},
        {"object without class", ARCHIVE("\x84\x01@\x84\x85"), true, "object without a class"},
        {"dictionary key", ARCHIVE("\x84\x01@\x84\x84\x84\x0cNSDictionary\x00\x85\x84\x01i\x01\x92\x85\x92\x85\x86"), true, "dictionary key of kind invalid"},
        {"number type", ARCHIVE("\x84\x01@\x84\x84\x84\x08NSNumber\x00\x85\x84\x01*\x84\x84\x01@\x86"), true, "number of type \"@\""},
        {"string group type", ARCHIVE("\x84\x01@\x84\x84\x84\x08NSString\x01\x85\x84\x01i\x00\x86"), true, "expected a \"+\" group, found \"i\""},
        {"integer too wide", ARCHIVE("\x84\x01@\x84\x84\x84\x08NSNumber\x00\x85\x84\x01*\x84\x84\x01" "c\x95\x81\x00\x01\x86"), true, "integer 256 does not fit type 'c'"},
        {"bad type string", ARCHIVE("\x84\x03[3x"), false, "bad type string \"[3x\""},
        {"empty elements", ARCHIVE("\x84\x0b[999999{a}]"), false, "array of values that take no bytes"},
        {"unread values", ARCHIVE("\x84\x01@\x84\x84\x84\x08NSString\x01\x85\x84\x01+\x01x\x94\x01y\x86"), true, "NSString left coded values unread"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        if (row.root) {
            EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(row.data).isValid());
        } else {
            SequentialUnarchiver unarchiver(row.data);
            while (unarchiver.decodeNextValues()) {
            }
            EXPECT_TRUE(unarchiver.hasFailed());
        }
        EXPECT_EQ(kelvaro::test::log().lines(),
                  QStringList{QStringLiteral("SequentialUnarchiver: %1\n").arg(QLatin1String(row.reason))});
    }
}

TEST(SequentialUnarchiver, MarksBackReferencesInGenericMode)
{
    // An NSArray holding itself: no value can hold that, an inspection can name it.
    const QByteArray cyclic =
        ARCHIVE("\x84\x01@\x84\x84\x84\x07NSArray\x00\x84\x84\x08NSObject\x00\x85\x84\x01i\x01\x92\x92\x86");
    const QVariantMap marker{{QStringLiteral("$class"), values::fromString(QStringLiteral("NSArray"))},
                             {QStringLiteral("$ref"), values::fromSigned(0)}};
    EXPECT_TRUE(values::strictlyEqual(SequentialUnarchiver::unarchiveObjectWithData(cyclic, genericOptions()),
                                      values::fromArray({values::fromDictionary(marker)})));
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(SequentialUnarchiver, EnforcesItsLimits)
{
    // 300 arrays, each holding the next.
    QVariant nested = values::fromArray({});
    for (int i = 0; i < 300; ++i)
        nested = values::fromArray({nested});
    const QByteArray deep = SequentialArchiver::archivedDataWithRootObject(nested);
    ASSERT_FALSE(deep.isEmpty());
    EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(deep).isValid());
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("objects nest deeper than 200")));

    const QByteArray list = SequentialArchiver::archivedDataWithRootObject(
        values::fromArray({values::fromSigned(1), values::fromSigned(2), values::fromSigned(3)}));
    struct Row {
        const char* name;
        ArchiveLimits limits;
        const char* reason;
    };
    auto limits = [](auto change) {
        ArchiveLimits l;
        change(l);
        return l;
    };
    const Row rows[] = {
        {"input", limits([](ArchiveLimits& l) { l.maxInputBytes = 20; }), "archive of "},
        {"objects", limits([](ArchiveLimits& l) { l.maxObjects = 5; }), "more than 5 objects"},
        {"elements", limits([](ArchiveLimits& l) { l.maxElements = 2; }), "container of 3 elements exceeds the limit"},
        {"depth", limits([](ArchiveLimits& l) { l.maxDepth = 1; }), "objects nest deeper than 1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        UnarchiveOptions options;
        options.limits = row.limits;
        EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(list, options).isValid());
        EXPECT_EQ(kelvaro::test::log().lines().size(), 1);
        EXPECT_TRUE(kelvaro::test::log().contains(QLatin1String(row.reason)));
    }
    EXPECT_TRUE(SequentialUnarchiver::unarchiveObjectWithData(list).isValid());
}

TEST(SequentialUnarchiver, SurvivesCorruptedAndTruncatedArchives)
{
    QVariantMap mixed{
        {QStringLiteral("text"), values::fromString(QStringLiteral("Grüße"))},
        {QStringLiteral("numbers"), values::fromArray({values::fromSigned(-5), values::fromUnsigned(1ULL << 63), values::fromReal(0.25),
                                                       values::fromBool(true)})},
        {QStringLiteral("data"), values::fromData(QByteArray(40, '\x86'))},
        {QStringLiteral("date"), values::fromDate(QDateTime::fromMSecsSinceEpoch(1700000000123, Qt::UTC))},
        {QStringLiteral("colour"), values::fromObject(Color::rgb(Color::Space::DeviceRGB, 0.1f, 0.2f, 0.3f))},
    };
    const QByteArray made = SequentialArchiver::archivedDataWithRootObject(values::fromDictionary(mixed));
    ASSERT_FALSE(made.isEmpty());
    const QByteArray inputs[] = {
        made,
        sample(QStringLiteral("NSString_string_value.typedstream")),
        sample(QStringLiteral("NSURL_relative.typedstream")),
        sample(QStringLiteral("Emacs.clr")).left(700),
        sample(QStringLiteral("Empty2D_macOS_13.gcx")),
    };
    UnarchiveOptions strict;
    strict.allowedClasses = {QStringLiteral("NSColor")};
    const UnarchiveOptions loose = genericOptions();

    auto decode = [&](const QByteArray& data) {
        for (const UnarchiveOptions* options : std::initializer_list<const UnarchiveOptions*>{&strict, &loose}) {
            kelvaro::test::log().clear();
            SequentialUnarchiver unarchiver(data, *options);
            for (int groups = 0; groups < 64 && unarchiver.decodeNextValues(); ++groups) {
            }
            EXPECT_LE(kelvaro::test::log().lines().size(), 1);
        }
    };

    std::mt19937 random(20240229);
    for (const QByteArray& input : inputs) {
        // Every prefix of the small archives, a sample of the long ones: a cut archive is never whole.
        const qsizetype step = input.size() > 4000 ? 331 : 1;
        for (qsizetype cut = 0; cut < input.size(); cut += step) {
            if (input.size() <= 4000) {
                kelvaro::test::log().clear();
                EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(input.left(cut), loose).isValid());
            }
            decode(input.left(cut));
        }
        for (int round = 0, rounds = input.size() > 4000 ? 40 : 250; round < rounds; ++round) {
            QByteArray mutated = input;
            const int edits = 1 + int(random() % 4);
            for (int e = 0; e < edits; ++e) {
                const qsizetype at = qsizetype(random() % quint32(mutated.size()));
                switch (random() % 4) {
                case 0: mutated[at] = char(random()); break;
                case 1: mutated[at] = char(0x80 + random() % 0x20); break; // tags and small references
                case 2: mutated.insert(at, char(random())); break;
                default: mutated.remove(at, 1 + qsizetype(random() % 8)); break;
                }
            }
            decode(mutated);
        }
    }
}

// Objects nested inside deeply nested array types: the two kinds of nesting must share one depth bound,
// or generic decoding recurses depth × depth frames deep.
TEST(SequentialUnarchiver, NestedTypesAndObjectsShareOneDepthBound)
{
    const int typeDepth = 199;
    const int objectDepth = 199;
    QByteArray types;
    for (int i = 0; i < typeDepth; ++i)
        types += "[1";
    types += "@";
    for (int i = 0; i < typeDepth; ++i)
        types += "]";

    QByteArray a("\x04\x0bstreamtyped\x81\xe8\x03", 16);
    a += "\x84\x01@"; // root group "@"
    for (int o = 0; o < objectDepth; ++o) {
        a += char(0x84); // new object
        if (o == 0)
            a += QByteArray("\x84\x84\x03" "Foo\x00\x85", 8); // class Foo, version 0, no superclass
        else
            a += char(0x92 + 1); // the class entry
        if (o == 0) {
            a += "\x84\x81";
            const qint16 n = qToLittleEndian(qint16(types.size()));
            a.append(reinterpret_cast<const char*>(&n), 2);
            a += types;
        } else {
            a += char(0x92 + 2); // the shared type string
        }
    }
    a += char(0x85);
    a += QByteArray(objectDepth, char(0x86));

    UnarchiveOptions options;
    options.generic = true;
    EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(a, options).isValid());
    EXPECT_EQ(kelvaro::test::log().count(QStringLiteral("nest deeper")), 1);
}

TEST(SequentialUnarchiver, RefusesSharedObjectsThatExpandPastTheArchive)
{
    // Generic objects of class Foo holding "@@": a new object, then a reference to that same object.
    // Entries: object 0, class Foo, then object k at k + 1.
    const auto doubling = [](int levels) {
        QByteArray a = kHeader + QByteArray("\x84\x01@", 3);
        for (int o = 0; o < levels; ++o) {
            a += char(0x84);
            a += o == 0 ? QByteArray("\x84\x84\x03" "Foo\x00\x85", 8) : QByteArray(1, char(0x92 + 1));
            a += o == 0 ? QByteArray("\x84\x02@@", 4) : QByteArray(1, char(0x92 + 2));
        }
        a += QByteArray("\x85\x85\x86", 3); // the innermost holds nil twice
        for (int o = levels - 2; o >= 0; --o)
            a += QByteArray(1, char(0x92 + o + 2)) + char(0x86);
        return a;
    };
    EXPECT_TRUE(SequentialUnarchiver::unarchiveObjectWithData(doubling(10), genericOptions()).isValid());
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
    EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(doubling(40), genericOptions()).isValid());
    EXPECT_EQ(kelvaro::test::log().count(QStringLiteral("archive expands to more than")), 1);
    // 2^18 values from a hundred bytes, which a floor of 4 MiB admitted.
    kelvaro::test::log().clear();
    EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(doubling(18), genericOptions()).isValid());
    EXPECT_EQ(kelvaro::test::log().count(QStringLiteral("archive expands to more than")), 1);

    // An object of 4000 references to one object that holds 2000 integers inline: the integers count at
    // every reference. Objects: 0 the outer, 1 class Foo, 2 the inner; strings: "@", "Foo", the types.
    QByteArray shared = kHeader + QByteArray("\x84\x01@\x84\x84\x84\x03" "Foo\x00\x85", 12);
    shared += QByteArray("\x84\x07[4000@]", 9);
    shared += QByteArray("\x84\x93\x84\x07[2000i]", 11) + QByteArray(2000, '\x01') + char(0x86);
    shared += QByteArray(3999, char(0x92 + 2)) + char(0x86);
    kelvaro::test::log().clear();
    EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(shared, genericOptions()).isValid());
    EXPECT_EQ(kelvaro::test::log().count(QStringLiteral("archive expands to more than")), 1);
    // Once, it decodes.
    QByteArray single = kHeader + QByteArray("\x84\x01@\x84\x84\x84\x03" "Foo\x00\x85", 12);
    single += QByteArray("\x84\x07[2000i]", 9) + QByteArray(2000, '\x01') + char(0x86);
    EXPECT_EQ(values::toDictionary(SequentialUnarchiver::unarchiveObjectWithData(single, genericOptions()))
                  .value_or(QVariantMap()).value(QStringLiteral("$0")).toList().size(), 2000);
}
