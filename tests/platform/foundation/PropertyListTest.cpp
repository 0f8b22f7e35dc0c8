#include "platform/foundation/PropertyList.h"

#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QRandomGenerator>
#include <QSize>
#include <QXmlStreamReader>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

using namespace platform;
using namespace platform::values;
using kelvaro::test::readFile;
using kelvaro::test::testDataPath;

namespace {

QDateTime utc(qint64 msecsSince1970) { return QDateTime::fromMSecsSinceEpoch(msecsSince1970, Qt::UTC); }

// A binary property list from raw objects: object i gets offset table entry i.
QByteArray bplist(const QList<QByteArray>& objects, int refSize = 1, quint64 top = 0)
{
    QByteArray bytes("bplist00");
    QList<quint64> offsets;
    for (const QByteArray& object : objects) {
        offsets.append(quint64(bytes.size()));
        bytes += object;
    }
    const quint64 table = quint64(bytes.size());
    for (quint64 offset : offsets) {
        char be[4];
        qToBigEndian<quint32>(quint32(offset), be);
        bytes.append(be, 4);
    }
    QByteArray trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = char(refSize);
    qToBigEndian<quint64>(quint64(objects.size()), trailer.data() + 8);
    qToBigEndian<quint64>(top, trailer.data() + 16);
    qToBigEndian<quint64>(table, trailer.data() + 24);
    return bytes + trailer;
}

QByteArray arrayOf(QList<int> refs)
{
    QByteArray object(1, char(0xA0 | refs.size()));
    for (int r : refs)
        object.append(char(r));
    return object;
}

// An array of `count` references to object `ref` (1-byte references).
QByteArray sharedArray(int count, int ref)
{
    QByteArray object("\xaf\x11", 2);
    char be[2];
    qToBigEndian<quint16>(quint16(count), be);
    object.append(be, 2);
    return object + QByteArray(count, char(ref));
}

QVariant roundTrip(const QVariant& value, PlistFormat format)
{
    const QByteArray bytes = writePropertyList(value, format);
    EXPECT_FALSE(bytes.isNull());
    const PlistReadResult result = readPropertyList(bytes);
    EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
    EXPECT_EQ(result.format, format);
    return result.value;
}

} // namespace

TEST(PropertyList, RoundTripsEveryTypeInBothFormats)
{
    const quint64 two63 = quint64(1) << 63;
    QVariantMap map;
    map["true"] = fromBool(true);
    map["false"] = fromBool(false);
    map["zero"] = fromSigned(0);
    map["minusOne"] = fromSigned(-1);
    map["int64Min"] = fromSigned(std::numeric_limits<qint64>::min());
    map["int64Max"] = fromSigned(std::numeric_limits<qint64>::max());
    map["two63"] = fromUnsigned(two63);
    map["uint64Max"] = fromUnsigned(std::numeric_limits<quint64>::max());
    map["tenth"] = fromReal(0.1);
    map["negativeReal"] = fromReal(-2.5);
    map["hugeReal"] = fromReal(1e300);
    map["denormal"] = fromReal(5e-324);
    map["integralReal"] = fromReal(3.0);
    map["infinity"] = fromReal(std::numeric_limits<double>::infinity());
    map["minusInfinity"] = fromReal(-std::numeric_limits<double>::infinity());
    map["nan"] = fromReal(std::nan(""));
    map["text"] = fromString(QStringLiteral("Grüße, 温度 😀 <&> \"'"));
    map["spaces"] = fromString(QStringLiteral("  leading and trailing \t\n "));
    map["empty"] = fromString(QString(""));
    map["bytes"] = fromData(QByteArray("\x00\x01\xff\x80 binary", 12));
    map["noBytes"] = fromData(QByteArray());
    map["date"] = fromDate(utc(1700000000000));
    map["before2001"] = fromDate(utc(915148800000));   // 1999-01-01
    map["before1932"] = fromDate(utc(-2208988800000)); // 1900-01-01, past libplist's 32-bit seconds
    map["after2069"] = fromDate(utc(4102444800000));   // 2100-01-01
    map["uid"] = QVariant::fromValue(PlistUid{7});
    map["bigUid"] = QVariant::fromValue(PlistUid{0xfffffffeu});
    map["emptyArray"] = fromArray({});
    map["emptyDictionary"] = fromDictionary({});
    map["nested"] = fromArray({fromDictionary({{"ключ", fromArray({fromSigned(-5), fromUnsigned(two63 + 1)})}}),
        fromArray({fromArray({})})});
    map["übergröße"] = fromBool(true);

    for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        SCOPED_TRACE(format == PlistFormat::Xml ? "xml" : "binary");
        const QVariant back = roundTrip(fromDictionary(map), format);
        ASSERT_EQ(kindOf(back), Kind::Dictionary);
        const QVariantMap got = back.toMap();
        EXPECT_EQ(got.keys(), map.keys());
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            SCOPED_TRACE(it.key().toStdString());
            EXPECT_TRUE(strictlyEqual(got.value(it.key()), it.value()));
            if (it.value().metaType() == QMetaType::fromType<PlistUid>()) {
                EXPECT_EQ(got.value(it.key()).value<PlistUid>(), it.value().value<PlistUid>());
                continue;
            }
            // Signedness is kept where the format can keep it: values from 2^63 up come back unsigned.
            EXPECT_EQ(kindOf(got.value(it.key())), kindOf(it.value()));
        }
        const QVariantList nested = got.value("nested").toList();
        EXPECT_EQ(kindOf(nested[0].toMap().value("ключ").toList()[1]), Kind::Unsigned);
        EXPECT_EQ(nested[0].toMap().value("ключ").toList()[0].toLongLong(), -5);
    }
}

TEST(PropertyList, SmallUnsignedValuesReadBackSigned)
{
    for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        const QVariant back = roundTrip(fromArray({fromUnsigned(42)}), format);
        EXPECT_EQ(kindOf(back.toList().value(0)), Kind::Signed);
        EXPECT_EQ(back.toList().value(0).toLongLong(), 42);
    }
}

TEST(PropertyList, DatesKeepMillisecondsInBinaryAndSecondsInXml)
{
    const QDateTime dates[] = {utc(978307200500), utc(978307198750), utc(978307199999), utc(1234567890123)};
    for (const QDateTime& date : dates) {
        SCOPED_TRACE(date.toString(Qt::ISODateWithMs).toStdString());
        EXPECT_EQ(roundTrip(fromDate(date), PlistFormat::Binary).toDateTime(), date);
        const QDateTime xml = roundTrip(fromDate(date), PlistFormat::Xml).toDateTime();
        EXPECT_EQ(xml.timeSpec(), Qt::UTC);
        EXPECT_EQ(xml.toMSecsSinceEpoch(), date.toSecsSinceEpoch() * 1000); // the second the date lies in
    }
}

TEST(PropertyList, DetectsFormat)
{
    const PlistReadResult xml = readPropertyList(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><integer>-3</integer></plist>");
    EXPECT_EQ(xml.format, PlistFormat::Xml);
    EXPECT_EQ(xml.value.toLongLong(), -3);
    const PlistReadResult binary = readPropertyList(bplist({QByteArray("\x10\x05", 2)}));
    EXPECT_EQ(binary.format, PlistFormat::Binary);
    EXPECT_EQ(binary.value.toLongLong(), 5);
    EXPECT_TRUE(binary.error.isEmpty());
}

TEST(PropertyList, ReadsArchivesOfTheOriginalPlatform)
{
    const PlistReadResult xml = readPropertyList(readFile(testDataPath("archives/keyed/NSKeyedUnarchiver-ArrayTest.plist")));
    ASSERT_TRUE(xml.error.isEmpty()) << xml.error.toStdString();
    const QVariantMap top = xml.value.toMap();
    EXPECT_EQ(top.value("$archiver").toString(), "NSKeyedArchiver");
    EXPECT_EQ(kindOf(top.value("$version")), Kind::Signed);
    EXPECT_EQ(top.value("$top").toMap().value("root").value<PlistUid>(), PlistUid{1});
    const QVariantList objects = top.value("$objects").toList();
    ASSERT_EQ(objects.size(), 6);
    const QVariantList refs = objects[1].toMap().value("NS.objects").toList();
    ASSERT_EQ(refs.size(), 4);
    EXPECT_EQ(refs[0].value<PlistUid>(), PlistUid{2});
    EXPECT_EQ(refs[1].value<PlistUid>(), PlistUid{2});

    const PlistReadResult binary = readPropertyList(readFile(testDataPath("archives/keyed/macOS-10.14/NSSet-Numbers.archive")));
    ASSERT_TRUE(binary.error.isEmpty()) << binary.error.toStdString();
    EXPECT_EQ(binary.format, PlistFormat::Binary);
    const QVariantList numbers = binary.value.toMap().value("$objects").toList();
    ASSERT_EQ(numbers.size(), 8);
    EXPECT_EQ(numbers[2].toLongLong(), 3);
    EXPECT_EQ(numbers[1].toMap().value("$class").value<PlistUid>(), PlistUid{7});
}

TEST(PropertyList, RejectsBadInputWithAnError)
{
    const QByteArray deepXml = "<plist>" + QByteArray("<array>").repeated(600) + QByteArray("</array>").repeated(600) + "</plist>";
    const QByteArray veryDeepXml = "<plist>" + QByteArray("<array>").repeated(2000000) + "</plist>";
    // 600 nested arrays need 2-byte refs.
    QList<QByteArray> deepObjects;
    for (int i = 0; i < 600; ++i) {
        QByteArray object("\xa1", 1);
        char be[2];
        qToBigEndian<quint16>(quint16(i + 1), be);
        object.append(be, 2);
        deepObjects.append(object);
    }
    deepObjects.append(QByteArray("\x09", 1));
    // Forty arrays of [next, next]: 2^40 values once libplist expands the shared references.
    QList<QByteArray> laughs;
    for (int i = 0; i < 40; ++i)
        laughs.append(arrayOf({i + 1, i + 1}));
    laughs.append(QByteArray("\x08", 1));

    struct Row {
        const char* name;
        QByteArray bytes;
    };
    const Row rows[] = {
        {"empty", QByteArray()},
        {"text", "hello"},
        {"unterminated XML", "<?xml version=\"1.0\"?><plist><dict><key>a</key>"},
        {"unterminated XML string", "<plist><string>abc"},
        {"unknown XML element", "<plist><foo/></plist>"},
        {"XML without a value", "<plist></plist>"},
        {"unknown binary version", "bplist01" + QByteArray(40, '\0')},
        {"binary header only", "bplist00"},
        {"zero trailer", "bplist00" + QByteArray(40, '\0')},
        {"self-referencing array", bplist({arrayOf({0})})},
        {"two-object cycle", bplist({arrayOf({1}), arrayOf({0})})},
        {"reference out of range", bplist({arrayOf({5})})},
        {"top object out of range", bplist({QByteArray("\x08", 1)}, 1, 3)},
        {"array longer than the file", bplist({QByteArray("\xaf\x13\x0f\xff\xff\xff\xff\xff\xff\xff", 10)})},
        {"data longer than the file", bplist({QByteArray("\x4f\x13\x7f\xff\xff\xff\xff\xff\xff\xff", 10)})},
        {"string longer than the file", bplist({QByteArray("\x6f\x10\x50", 3)})},
        {"unknown object type", bplist({QByteArray("\x70", 1)})},
        {"exponential sharing", bplist(laughs)},
        {"1000 references to an array of 1000 references", bplist({sharedArray(1000, 1), sharedArray(1000, 2), "\x08"})},
        {"ASCII dictionary key holding U+0000", bplist({"\xd1\x01\x02", QByteArray("\x53" "a\0b", 4), "\x08"})},
        {"UTF-16 dictionary key holding U+0000", bplist({"\xd1\x01\x02", QByteArray("\x62\0a\0\0", 5), "\x08"})},
        {"reproducer with U+0000 in a key", readFile(testDataPath("hostile/binary-plist-nul-in-key.bplist"))},
        {"binary nesting past the limit", bplist(deepObjects, 2)},
        {"XML nesting past the limit", deepXml},
        {"XML nesting that would overflow libplist's stack", veryDeepXml},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const PlistReadResult result = readPropertyList(row.bytes);
        EXPECT_FALSE(result.value.isValid());
        EXPECT_FALSE(result.error.isEmpty());
    }
}

TEST(PropertyList, AppliesItsLimits)
{
    const QVariant nested = fromArray({fromArray({fromArray({fromSigned(1)})})});
    PlistLimits limits;
    limits.maxDepth = 3;
    for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
        const QByteArray bytes = writePropertyList(nested, format);
        EXPECT_TRUE(readPropertyList(bytes, limits).error.isEmpty());
        limits.maxDepth = 2;
        EXPECT_TRUE(readPropertyList(bytes, limits).error.contains("deeper"));
        limits.maxDepth = 3;
    }
    PlistLimits small;
    small.maxInputBytes = 64;
    const PlistReadResult big = readPropertyList(writePropertyList(fromString(QString(100, 'x')), PlistFormat::Binary), small);
    EXPECT_FALSE(big.value.isValid());
    EXPECT_TRUE(big.error.contains("larger"));

    PlistLimits few;
    few.maxValues = 3;
    const QVariant four = fromArray({fromSigned(1), fromSigned(2), fromSigned(3)});
    for (const PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary})
        EXPECT_TRUE(readPropertyList(writePropertyList(four, format), few).error.contains("more than"));
}

TEST(PropertyList, TruncatedAndMutatedInputNeverCrashes)
{
    QList<QByteArray> samples;
    const QDir dir(testDataPath("archives/keyed/macOS-10.14"));
    for (const QString& name : dir.entryList({"*.archive"}))
        samples.append(readFile(dir.filePath(name)));
    samples.append(readFile(testDataPath("archives/keyed/NSKeyedUnarchiver-NotificationTest.plist")));
    samples.append(writePropertyList(fromDictionary({{"a", fromArray({fromDate(utc(0)), fromUnsigned(~quint64(0))})},
                                         {"b", fromData(QByteArray(300, 'x'))}}),
        PlistFormat::Binary));
    ASSERT_GT(samples.size(), 30);

    QRandomGenerator random(20240601);
    int decoded = 0;
    for (const QByteArray& sample : samples) {
        for (qsizetype length = 0; length < sample.size(); ++length) {
            const PlistReadResult result = readPropertyList(sample.left(length));
            EXPECT_EQ(result.value.isValid(), result.error.isEmpty());
        }
        for (int round = 0; round < 150; ++round) {
            QByteArray bytes = sample;
            const int flips = 1 + int(random.bounded(4));
            for (int i = 0; i < flips; ++i) {
                // Half of the mutations hit the trailer and offset table, where the structure lives.
                const qsizetype tail = std::min<qsizetype>(bytes.size(), 48);
                const qsizetype at = random.bounded(2) ? bytes.size() - 1 - random.bounded(int(tail))
                                                       : random.bounded(int(bytes.size()));
                bytes[at] = char(random.bounded(256));
            }
            const PlistReadResult result = readPropertyList(bytes);
            EXPECT_EQ(result.value.isValid(), result.error.isEmpty());
            decoded += result.value.isValid() ? 1 : 0;
        }
    }
    EXPECT_GT(decoded, 0); // some mutations only change values
}

TEST(PropertyList, RefusesToWriteWhatItCannotCarry)
{
    struct Row {
        const char* name;
        QVariant value;
    };
    const Row rows[] = {
        {"invalid", QVariant()},
        {"nested invalid", fromArray({fromSigned(1), QVariant()})},
        {"string with NUL", fromString(QString("a") + QChar(0) + "b")},
        {"unsupported type", QVariant::fromValue(QSize(1, 2))},
        {"invalid date", QVariant(QDateTime())},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        EXPECT_TRUE(writePropertyList(row.value, PlistFormat::Binary).isNull());
        EXPECT_TRUE(writePropertyList(row.value, PlistFormat::Xml).isNull());
        EXPECT_EQ(kelvaro::test::log().count("PropertyList: cannot write"), 2);
    }
    // XML holds four-digit years only; binary keeps the date.
    for (int year : {-500, 12000}) {
        SCOPED_TRACE(year);
        const QVariant date = fromDate(QDateTime(QDate(year, 6, 1), QTime(0, 0), Qt::UTC));
        EXPECT_TRUE(writePropertyList(date, PlistFormat::Xml).isNull());
        EXPECT_TRUE(strictlyEqual(readPropertyList(writePropertyList(date, PlistFormat::Binary)).value, date));
    }
    // libplist 2.2 would write such a UID as 0 in binary.
    const QVariant bigUid = QVariant::fromValue(PlistUid{quint64(1) << 32});
    EXPECT_TRUE(writePropertyList(bigUid, PlistFormat::Binary).isNull());
    EXPECT_EQ(readPropertyList(writePropertyList(bigUid, PlistFormat::Xml)).value.value<PlistUid>(), PlistUid{quint64(1) << 32});
}

TEST(PropertyList, SharedValuesAsWritersShareThemStillRead)
{
    // Like other writers, ours writes equal strings and numbers once and refers to them.
    QVariantList sensors;
    for (int i = 0; i < 3000; ++i) {
        sensors.append(fromDictionary({{"temperatureSensorIdentifier", fromString("TC0P")},
                                       {"unitOfMeasurementDescription", fromString("degrees Celsius")},
                                       {"isAvailable", fromBool(true)}}));
    }
    const QVariant value = fromArray({fromArray(sensors), fromArray(QVariantList(20000, fromSigned(7)))});
    const QByteArray written = writePropertyList(value, PlistFormat::Binary);
    const PlistReadResult read = readPropertyList(written);
    ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
    EXPECT_TRUE(strictlyEqual(read.value, value));
    // Each dictionary costs its header, six 2-byte references, its 4-byte offset and the 2-byte reference
    // to it: its keys and values are written once.
    EXPECT_LT(written.size(), 3000 * 19 + 20000 * 2 + 1024);
}

TEST(PropertyList, BinaryListsOfEveryReferenceWidthReadBack)
{
    // Past 2^8 and 2^16 objects, references and offsets take 2 and then 4 bytes.
    for (const int count : {200, 300, 70000}) {
        SCOPED_TRACE(count);
        QVariantList items;
        for (int i = 0; i < count; ++i) {
            items.append(i % 2 ? fromSigned(qint64(i) * 100003) : fromArray({fromString(QStringLiteral("n%1").arg(i)), fromReal(i / 4.0)}));
        }
        const QVariant value = fromDictionary({{"items", fromArray(items)}, {"last", fromSigned(-1)}});
        const PlistReadResult read = readPropertyList(writePropertyList(value, PlistFormat::Binary));
        ASSERT_TRUE(read.error.isEmpty()) << read.error.toStdString();
        EXPECT_TRUE(strictlyEqual(read.value, value));
    }
    // Text outside ASCII is written as UTF-16; a lone surrogate, which no reader takes, as U+FFFD.
    const QVariant text = fromArray({fromString(QStringLiteral("Grüße 😀")), fromString(QString(QChar(0xd800)) + "x")});
    const QVariantList back = readPropertyList(writePropertyList(text, PlistFormat::Binary)).value.toList();
    ASSERT_EQ(back.size(), 2);
    EXPECT_EQ(back[0].toString(), QStringLiteral("Grüße 😀"));
    EXPECT_EQ(back[1].toString(), QString(QChar::ReplacementCharacter) + "x");
}

TEST(PropertyList, XmlOutputHoldsOnlyWhatXmlParsersAccept)
{
    const QString pair = QString::fromUcs4(U"\U0001F321");
    struct Row {
        QString written;
        QString readBack;
    };
    const QChar r(QChar::ReplacementCharacter);
    const Row rows[] = {
        {QStringLiteral("serial\x01"), QStringLiteral("serial") + r},
        {QStringLiteral("a\x1b[2Jb\x7f"), "a" + QString(r) + "[2Jb\x7f"},
        {QString(QChar(0xFFFE)) + QChar(0xFFFF) + "x", QString(r) + r + "x"},
        {QString(QChar(0xD800)) + "x" + QChar(0xDC00), QString(r) + "x" + r},
        {"tab\tline\n" + pair + r, "tab\tline\n" + pair + r},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.written.toStdString());
        const QVariant value = fromDictionary({{row.written, fromArray({fromString(row.written)})}});
        const QByteArray xml = writePropertyList(value, PlistFormat::Xml);
        QXmlStreamReader reader(xml);
        while (!reader.atEnd())
            reader.readNext();
        EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
        const QVariantMap back = readPropertyList(xml).value.toMap();
        EXPECT_EQ(back.keys(), QStringList{row.readBack});
        EXPECT_EQ(back.value(row.readBack).toList().value(0).toString(), row.readBack);
    }
    // Binary lists keep control characters.
    const QVariant control = fromDictionary({{"a\x01", fromString("\x1b\x7f")}});
    EXPECT_TRUE(strictlyEqual(readPropertyList(writePropertyList(control, PlistFormat::Binary)).value, control));
}

// libplist 2.2 reads an XML integer with strtoull and negates it afterwards, so values beyond 64 bits,
// fractions and octal-looking texts would read as other numbers. Each is refused; sound ones read exactly.
TEST(PropertyList, XmlIntegersReadExactlyOrNotAtAll)
{
    struct Row {
        const char* text;
        std::optional<QVariant> value; // nothing: refused
    };
    const Row rows[] = {
        {"-99999999999999999999", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"1.5", std::nullopt},
        {"18446744073709551616", std::nullopt},
        {"0x10000000000000000", std::nullopt},
        {"010", std::nullopt},
        {"08", std::nullopt},
        {"", std::nullopt},
        {"- 5", std::nullopt},
        {"--5", std::nullopt},
        {"5 6", std::nullopt},
        {"1e3", std::nullopt},
        {"0x", std::nullopt},
        {"5<!-- five -->", std::nullopt},
        {"-9223372036854775808", fromSigned(std::numeric_limits<qint64>::min())},
        {"9223372036854775807", fromSigned(std::numeric_limits<qint64>::max())},
        {"18446744073709551615", fromUnsigned(std::numeric_limits<quint64>::max())},
        {" +42\n", fromSigned(42)},
        {"-0x10", fromSigned(-16)},
        {"0", fromSigned(0)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const QByteArray xml = QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>n</key><integer>") + row.text
                               + "</integer></dict></plist>";
        const PlistReadResult result = readPropertyList(xml);
        if (row.value) {
            EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
            const QVariant n = result.value.toMap().value(QStringLiteral("n"));
            EXPECT_TRUE(strictlyEqual(n, *row.value));
            EXPECT_EQ(kindOf(n), kindOf(*row.value));
        } else {
            EXPECT_FALSE(result.value.isValid());
            EXPECT_FALSE(result.error.isEmpty());
        }
    }
    EXPECT_FALSE(readPropertyList("<plist><array><integer/></array></plist>").value.isValid());
    // The binary 16-byte form holds 64 bits; anything in its upper half is beyond them.
    const QByteArray wide = QByteArray("\x14", 1) + QByteArray("\0\0\0\0\0\0\0\x01", 8) + QByteArray(8, '\0');
    EXPECT_FALSE(readPropertyList(bplist({wide})).value.isValid());
    const QByteArray top = QByteArray("\x14", 1) + QByteArray(8, '\0') + QByteArray(8, '\xff');
    const QVariant topValue = readPropertyList(bplist({top})).value;
    EXPECT_EQ(kindOf(topValue), Kind::Unsigned);
    EXPECT_EQ(toUnsigned(topValue), std::numeric_limits<quint64>::max());
}

TEST(PropertyList, XmlTextIsReadAsXmlMeansIt)
{
    struct Row {
        const char* what;
        const char* xml;
        std::optional<QVariant> value; // nothing: refused
    };
    const Row rows[] = {
        {"references", "<plist><string>a &lt;b&gt; &amp; &quot;c&apos; &#233;&#x20AC;</string></plist>",
         fromString(QStringLiteral("a <b> & \"c' \u00e9\u20ac"))},
        {"CDATA and a comment", "<plist><string><![CDATA[<raw> & ]]><!-- gone -->x</string></plist>", fromString("<raw> & x")},
        {"document type and instruction", "<?xml version=\"1.0\"?><!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                          "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\"><plist version=\"1.0\"><true/></plist>",
         fromBool(true)},
        {"empty containers and text", "<plist><array><dict/><array/><string/><data></data></array></plist>",
         fromArray({fromDictionary({}), fromArray({}), fromString(""), fromData(QByteArray())})},
        {"base64 over lines", "<plist><data>\n\tAAEC\n\tAw==\n</data></plist>", fromData(QByteArray("\0\1\2\3", 4))},
        {"a UID as XML writes one", "<plist><dict><key>CF$UID</key><integer>7</integer></dict></plist>", QVariant::fromValue(PlistUid{7})},
        {"CF$UID with a string is a dictionary", "<plist><dict><key>CF$UID</key><string>7</string></dict></plist>",
         fromDictionary({{"CF$UID", fromString("7")}})},
        {"the later of two equal keys", "<plist><dict><key>a</key><integer>1</integer><key>a</key><integer>2</integer></dict></plist>",
         fromDictionary({{"a", fromSigned(2)}})},
        {"a date to the second", "<plist><date>2001-01-01T00:00:05Z</date></plist>", fromDate(QDateTime::fromSecsSinceEpoch(978307205, Qt::UTC))},
        {"an unknown reference", "<plist><string>&nbsp;</string></plist>", std::nullopt},
        {"a reference to U+0000", "<plist><string>&#0;</string></plist>", std::nullopt},
        {"an element inside a string", "<plist><string>a<b/></string></plist>", std::nullopt},
        {"a value without its key", "<plist><dict><integer>1</integer></dict></plist>", std::nullopt},
        {"a key without its value", "<plist><dict><key>a</key></dict></plist>", std::nullopt},
        {"a mismatched end", "<plist><array><true/></dict></plist>", std::nullopt},
        {"a date that is none", "<plist><date>yesterday</date></plist>", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const PlistReadResult result = readPropertyList(row.xml);
        if (row.value) {
            EXPECT_TRUE(result.error.isEmpty()) << result.error.toStdString();
            EXPECT_TRUE(strictlyEqual(result.value, *row.value));
        } else {
            EXPECT_FALSE(result.value.isValid());
            EXPECT_FALSE(result.error.isEmpty());
        }
    }
    // Asked to, a reader refuses a key given twice and says where.
    PlistLimits strict;
    strict.refuseDuplicateKeys = true;
    const PlistReadResult twice = readPropertyList(
        "<plist><dict><key>Registry</key><array><dict/><dict><key>A</key><true/><key>A</key><false/></dict></array></dict></plist>", strict);
    EXPECT_FALSE(twice.value.isValid());
    EXPECT_EQ(twice.error, QStringLiteral("Registry[1].A: key given twice"));
}
