#include "platform/foundation/SequentialArchiver.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <QVariantMap>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <vector>

using namespace platform;

namespace {

// A node of a test object graph: a name, child values and the version it was decoded with.
class TestNode final : public Archivable {
public:
    QString name;
    QVariantList children;
    qint64 decodedVersion = -1;

    QString className() const override { return QStringLiteral("TestNode"); }
    void encodeWithCoder(Coder& coder) const override
    {
        coder.encodeObject(values::fromString(name));
        coder.encodeObject(values::fromArray(children));
    }
    static ObjectRef decode(Coder& coder)
    {
        auto node = std::make_shared<TestNode>();
        node->name = values::toString(coder.decodeObject()).value_or(QString());
        node->children = values::toArray(coder.decodeObject()).value_or(QVariantList());
        node->decodedVersion = coder.versionForClassName(QStringLiteral("TestNode"));
        return coder.hasFailed() ? nullptr : node;
    }
};

class TestLeaf final : public Archivable {
public:
    QString className() const override { return QStringLiteral("TestLeaf"); }
    void encodeWithCoder(Coder& coder) const override { coder.encodeObject(values::fromSigned(7)); }
};

// Shaped like the long-term sensor history: count, interval, samples, index, date.
class TestHistory final : public Archivable {
public:
    static constexpr quint32 kSlots = 10080;
    double interval = 60.0;
    std::vector<qint32> samples = std::vector<qint32>(kSlots);
    qint32 index = 0;
    QDateTime date;

    QString className() const override { return QStringLiteral("TestHistory"); }
    void encodeWithCoder(Coder& coder) const override
    {
        const quint32 count = quint32(samples.size());
        coder.encodeValueOfObjCType("I", &count);
        coder.encodeValueOfObjCType("d", &interval);
        coder.encodeArrayOfObjCType('i', count, samples.data());
        coder.encodeValueOfObjCType("i", &index);
        coder.encodeObject(values::fromDate(date));
    }
    static ObjectRef decode(Coder& coder)
    {
        auto h = std::make_shared<TestHistory>();
        quint32 count = 0;
        if (!coder.decodeValueOfObjCType("I", &count) || !coder.decodeValueOfObjCType("d", &h->interval))
            return nullptr;
        if (count != kSlots) {
            coder.failWithReason(QStringLiteral("TestHistory of %1 samples").arg(count));
            return nullptr;
        }
        if (!coder.decodeArrayOfObjCType('i', count, h->samples.data()) || !coder.decodeValueOfObjCType("i", &h->index))
            return nullptr;
        h->date = values::toDate(coder.decodeObject()).value_or(QDateTime());
        return h;
    }
};

// Decoders that misbehave, one way each.
class TestMisfit final : public Archivable {
public:
    QString className() const override { return QStringLiteral("TestMisfit"); }
    void encodeWithCoder(Coder& coder) const override
    {
        const qint32 v = 1;
        coder.encodeValueOfObjCType("i", &v);
    }
};

KV_REGISTER_CLASS(QStringLiteral("TestNode"), QStringLiteral("NSObject"), 3, &TestNode::decode);
KV_REGISTER_CLASS(QStringLiteral("TestSpecialNode"), QStringLiteral("TestNode"), 1, &TestNode::decode);
KV_REGISTER_CLASS(QStringLiteral("TestLeaf"), QStringLiteral("NSObject"), 0, {});
KV_REGISTER_CLASS(QStringLiteral("TestHistory"), QStringLiteral("NSObject"), 2, &TestHistory::decode);
KV_REGISTER_CLASS(QStringLiteral("TestMisfit"), QStringLiteral("NSObject"), 0, {});

UnarchiveOptions allowing(const QStringList& classes)
{
    UnarchiveOptions options;
    options.allowedClasses = classes;
    return options;
}

QVariant roundTrip(const QVariant& value, const UnarchiveOptions& options = {})
{
    const QByteArray data = SequentialArchiver::archivedDataWithRootObject(value);
    EXPECT_FALSE(data.isEmpty());
    return SequentialUnarchiver::unarchiveObjectWithData(data, options);
}

QDateTime utc(qint64 msecs)
{
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

} // namespace

TEST(SequentialArchiver, WritesStringsAsTheOriginalDoes)
{
    EXPECT_EQ(SequentialArchiver::archivedDataWithRootObject(values::fromString(QStringLiteral("string value"))),
              kelvaro::test::readFile(kelvaro::test::testDataPath(QStringLiteral("archives/typedstream/NSString_string_value.typedstream"))));
}

TEST(SequentialArchiver, RoundTripsEveryFoundationValueKind)
{
    const QVariant rows[] = {
        values::fromString(QString()),
        values::fromString(QStringLiteral("Grüße, 温度 🌡")),
        values::fromBool(true),
        values::fromBool(false),
        values::fromSigned(0),
        values::fromSigned(1),
        values::fromSigned(-1),
        values::fromSigned(-111),
        values::fromSigned(std::numeric_limits<qint64>::min()),
        values::fromSigned(std::numeric_limits<qint64>::max()),
        values::fromUnsigned(5),
        values::fromUnsigned(1ULL << 63),
        values::fromUnsigned(std::numeric_limits<quint64>::max()),
        values::fromReal(0.0),
        values::fromReal(-0.0),
        values::fromReal(3.0), // written as an integer, still read back as a real
        values::fromReal(-2.5e-300),
        values::fromReal(1e300),
        values::fromReal(std::numeric_limits<double>::infinity()),
        values::fromData(QByteArray()),
        values::fromData(QByteArray("\x00\x86\x84\xff", 4)),
        values::fromDate(utc(0)),
        values::fromDate(utc(978307200000LL)), // the reference date itself
        values::fromDate(utc(-2208988800123LL)),
        values::fromDate(utc(1735689600456LL)),
        values::fromArray({}),
        values::fromDictionary({}),
        values::fromArray({values::fromSigned(1), values::fromString(QStringLiteral("two")), values::fromArray({values::fromBool(true)}),
                           values::fromDictionary({{QStringLiteral("k"), values::fromReal(0.5)}})}),
        values::fromDictionary({{QStringLiteral("ä"), values::fromDictionary({{QString(), values::fromData("x")}})},
                                {QStringLiteral("list"), values::fromArray({values::fromArray({})})}}),
    };
    for (const QVariant& row : rows) {
        SCOPED_TRACE(values::kindName(values::kindOf(row)));
        const QVariant back = roundTrip(row);
        EXPECT_EQ(values::kindOf(back), values::kindOf(row));
        EXPECT_TRUE(values::strictlyEqual(back, row));
        if (values::kindOf(row) == values::Kind::Real) {
            EXPECT_EQ(std::signbit(back.toDouble()), std::signbit(row.toDouble()));
        }
    }
    EXPECT_FALSE(roundTrip(QVariant()).isValid());
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(SequentialArchiver, RoundTripsEveryScalarCodeAtItsLimits)
{
    struct Scalars {
        qint8 c;
        quint8 C;
        qint16 s;
        quint16 S;
        qint32 i;
        quint32 I;
        qint32 l;
        quint32 L;
        qint64 q;
        quint64 Q;
        float f;
        double d;
        bool operator==(const Scalars&) const = default;
    };
    // The edges of each width and of the one-byte form (-110..127; -128..-111 are tags).
    const Scalars rows[] = {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0.0f, 0.0},
        {-1, 255, -1, 65535, -1, 0xffffffffu, -1, 0xffffffffu, -1, ~0ULL, -1.5f, -1.5},
        {-128, 128, -32768, 32768, std::numeric_limits<qint32>::min(), 0x80000000u, -111, 127, std::numeric_limits<qint64>::min(),
         1ULL << 63, std::numeric_limits<float>::max(), std::numeric_limits<double>::lowest()},
        {127, 127, 32767, 128, std::numeric_limits<qint32>::max(), 2147483647u, -110, 110, std::numeric_limits<qint64>::max(),
         0xffffffffULL, 1e-40f, 5e-324},
        {-111, 145, 128, 255, 32768, 65536, -32769, 32767, 2147483648LL, 4294967296ULL, 16777216.0f, 2147483648.0},
    };
    for (const Scalars& row : rows) {
        SequentialArchiver archiver;
        const void* in[] = {&row.c, &row.C, &row.s, &row.S, &row.i, &row.I, &row.l, &row.L, &row.q, &row.Q, &row.f, &row.d};
        archiver.encodeValuesOfObjCTypes("cCsSiIlLqQfd", in);
        // Each code also on its own, as a decoder reads a field at a time.
        archiver.encodeValueOfObjCType("Q", &row.Q);
        archiver.encodeValueOfObjCType("c", &row.c);

        Scalars back{};
        quint64 q2 = 0;
        qint8 c2 = 0;
        SequentialUnarchiver unarchiver(archiver.archivedData());
        void* out[] = {&back.c, &back.C, &back.s, &back.S, &back.i, &back.I, &back.l, &back.L, &back.q, &back.Q, &back.f, &back.d};
        ASSERT_TRUE(unarchiver.decodeValuesOfObjCTypes("cCsSiIlLqQfd", out));
        ASSERT_TRUE(unarchiver.decodeValueOfObjCType("Q", &q2));
        ASSERT_TRUE(unarchiver.decodeValueOfObjCType("c", &c2));
        EXPECT_TRUE(back == row);
        EXPECT_EQ(q2, row.Q);
        EXPECT_EQ(c2, row.c);
        EXPECT_TRUE(unarchiver.atEnd());
    }
}

TEST(SequentialArchiver, RoundTripsScalarArraysCStringsAndNil)
{
    const std::array<qint32, 5> ints{0, -1, 127, -111, std::numeric_limits<qint32>::min()};
    const std::array<quint16, 3> shorts{0, 200, 65535};
    const std::array<quint8, 4> bytes{0x84, 0x85, 0x86, 0xff};
    const std::array<qint64, 2> longs{std::numeric_limits<qint64>::min(), 1LL << 40};
    const std::array<double, 3> doubles{0.1, -0.0, 7.0};
    const std::array<float, 2> floats{0.5f, -3.0f};
    const QByteArray text("q");
    const QByteArray empty("");
    const QByteArray none;
    const QVariant nil;

    SequentialArchiver archiver;
    archiver.encodeArrayOfObjCType('i', ints.size(), ints.data());
    archiver.encodeArrayOfObjCType('S', shorts.size(), shorts.data());
    archiver.encodeArrayOfObjCType('C', bytes.size(), bytes.data());
    archiver.encodeArrayOfObjCType('q', longs.size(), longs.data());
    archiver.encodeArrayOfObjCType('d', doubles.size(), doubles.data());
    archiver.encodeArrayOfObjCType('f', floats.size(), floats.data());
    archiver.encodeArrayOfObjCType('i', 0, ints.data());
    const void* strings[] = {&text, &empty, &none, &text, &nil};
    archiver.encodeValuesOfObjCTypes("****@", strings);
    const QByteArray data = archiver.archivedData();
    // The repeated C string is written once, then referenced.
    EXPECT_EQ(data.count("\x84\x01q"), 1);

    std::array<qint32, 5> ints2{};
    std::array<quint16, 3> shorts2{};
    std::array<quint8, 4> bytes2{};
    std::array<qint64, 2> longs2{};
    std::array<double, 3> doubles2{};
    std::array<float, 2> floats2{};
    QByteArray t1, t2, t3, t4;
    QVariant object = values::fromSigned(1);
    SequentialUnarchiver unarchiver(data);
    ASSERT_TRUE(unarchiver.decodeArrayOfObjCType('i', ints2.size(), ints2.data()));
    ASSERT_TRUE(unarchiver.decodeArrayOfObjCType('S', shorts2.size(), shorts2.data()));
    ASSERT_TRUE(unarchiver.decodeArrayOfObjCType('C', bytes2.size(), bytes2.data()));
    ASSERT_TRUE(unarchiver.decodeArrayOfObjCType('q', longs2.size(), longs2.data()));
    ASSERT_TRUE(unarchiver.decodeArrayOfObjCType('d', doubles2.size(), doubles2.data()));
    ASSERT_TRUE(unarchiver.decodeArrayOfObjCType('f', floats2.size(), floats2.data()));
    ASSERT_TRUE(unarchiver.decodeArrayOfObjCType('i', 0, ints2.data()));
    void* out[] = {&t1, &t2, &t3, &t4, &object};
    ASSERT_TRUE(unarchiver.decodeValuesOfObjCTypes("****@", out));
    EXPECT_EQ(ints2, ints);
    EXPECT_EQ(shorts2, shorts);
    EXPECT_EQ(bytes2, bytes);
    EXPECT_EQ(longs2, longs);
    EXPECT_EQ(doubles2, doubles);
    EXPECT_TRUE(std::signbit(doubles2[1]));
    EXPECT_EQ(floats2, floats);
    EXPECT_EQ(t1, text);
    EXPECT_TRUE(t2.isEmpty());
    EXPECT_FALSE(t2.isNull());
    EXPECT_TRUE(t3.isNull());
    EXPECT_EQ(t4, text);
    EXPECT_FALSE(object.isValid());
    EXPECT_TRUE(unarchiver.atEnd());
}

TEST(SequentialArchiver, DecodingAsksForTheTypesThatWereWritten)
{
    const qint32 v = 5;
    SequentialArchiver archiver;
    archiver.encodeValueOfObjCType("i", &v);
    const QByteArray data = archiver.archivedData();

    qint32 asLong = 0;
    SequentialUnarchiver sameWidth(data);
    EXPECT_TRUE(sameWidth.decodeValueOfObjCType("l", &asLong)); // 'l' is 32 bits here
    EXPECT_EQ(asLong, 5);

    qint64 asQuad = 0;
    SequentialUnarchiver other(data);
    EXPECT_FALSE(other.decodeValueOfObjCType("q", &asQuad));
    EXPECT_FALSE(other.decodeValueOfObjCType("i", &asLong)); // stays failed
    EXPECT_EQ(kelvaro::test::log().lines(),
              QStringList{QStringLiteral("SequentialUnarchiver: type mismatch: archive has \"i\", asked for \"q\"\n")});
}

TEST(SequentialArchiver, WritesSharedObjectsOnceAndNestsObjects)
{
    auto leaf = std::make_shared<TestNode>();
    leaf->name = QStringLiteral("leaf");
    auto root = std::make_shared<TestNode>();
    root->name = QStringLiteral("root");
    root->children = {values::fromObject(leaf), values::fromObject(leaf), QVariant(), values::fromSigned(9)};

    const QByteArray data = SequentialArchiver::archivedDataWithRootObject(values::fromObject(root));
    EXPECT_EQ(data.count("leaf"), 1);
    EXPECT_EQ(data.count("TestNode"), 1);

    const auto back = objectAs<TestNode>(values::toObject(SequentialUnarchiver::unarchiveObjectWithData(data, allowing({"TestNode"}))));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, QStringLiteral("root"));
    EXPECT_EQ(back->decodedVersion, 3); // from the archive's class chain
    ASSERT_EQ(back->children.size(), 4);
    const auto first = objectAs<TestNode>(values::toObject(back->children[0]));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->name, QStringLiteral("leaf"));
    EXPECT_EQ(values::toObject(back->children[1]), values::toObject(back->children[0])); // still one object
    EXPECT_FALSE(back->children[2].isValid());
    EXPECT_TRUE(values::strictlyEqual(back->children[3], values::fromSigned(9)));
}

TEST(SequentialArchiver, DecodesOnlyAllowedClassesAndTheirSubclasses)
{
    // A TestNode instance that reports the subclass name.
    class SpecialNode final : public Archivable {
    public:
        QString className() const override { return QStringLiteral("TestSpecialNode"); }
        void encodeWithCoder(Coder& coder) const override
        {
            coder.encodeObject(values::fromString(QStringLiteral("special")));
            coder.encodeObject(values::fromArray({}));
        }
    };
    const QVariant value = values::fromObject(std::make_shared<SpecialNode>());
    const QByteArray data = SequentialArchiver::archivedDataWithRootObject(value);
    // Its chain names the superclass with its version.
    EXPECT_TRUE(data.contains("TestSpecialNode"));
    EXPECT_TRUE(data.contains(QByteArray("\x08TestNode\x03", 10)));

    EXPECT_TRUE(objectAs<TestNode>(values::toObject(SequentialUnarchiver::unarchiveObjectWithData(data, allowing({"TestNode"})))));
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());

    struct Row {
        const char* name;
        QVariant value;
        QStringList allowed;
        const char* reason;
    };
    const Row rows[] = {
        {"not allowed", value, {"TestLeaf"}, "class TestSpecialNode is not allowed"},
        {"nothing allowed", value, {}, "class TestSpecialNode is not allowed"},
        {"no decoder", values::fromObject(std::make_shared<TestLeaf>()), {"TestLeaf"}, "class TestLeaf has no decoder"},
        {"nested", values::fromArray({values::fromSigned(1), values::fromObject(std::make_shared<TestLeaf>())}), {"TestNode"},
         "class TestLeaf is not allowed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        EXPECT_FALSE(roundTrip(row.value, allowing(row.allowed)).isValid());
        EXPECT_EQ(kelvaro::test::log().lines(), QStringList{QStringLiteral("SequentialUnarchiver: %1\n").arg(QLatin1String(row.reason))});
    }
}

TEST(SequentialArchiver, ObjectThatFailsItsDecodeFailsTheArchive)
{
    struct Row {
        const char* name;
        ClassRegistry::Decoder decoder;
        const char* reason;
    };
    const Row rows[] = {
        {"gives up", [](Coder& coder) -> ObjectRef { coder.failWithReason(QStringLiteral("TestMisfit is broken")); return nullptr; },
         "TestMisfit is broken"},
        {"reads too little", [](Coder&) -> ObjectRef { return std::make_shared<TestMisfit>(); }, "TestMisfit left coded values unread"},
        {"reads too much",
         [](Coder& coder) -> ObjectRef {
             qint32 a = 0, b = 0;
             coder.decodeValueOfObjCType("i", &a);
             coder.decodeValueOfObjCType("i", &b);
             return std::make_shared<TestMisfit>();
         },
         "read past the end of an object's coded values"},
    };
    const QVariant value = values::fromArray({values::fromObject(std::make_shared<TestMisfit>())});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        ClassRegistry::shared().registerClass({QStringLiteral("TestMisfit"), QStringLiteral("NSObject"), 0, row.decoder});
        EXPECT_FALSE(roundTrip(value, allowing({"TestMisfit"})).isValid());
        EXPECT_EQ(kelvaro::test::log().lines(), QStringList{QStringLiteral("SequentialUnarchiver: %1\n").arg(QLatin1String(row.reason))});
    }
    ClassRegistry::shared().registerClass({QStringLiteral("TestMisfit"), QStringLiteral("NSObject"), 0, {}});
}

TEST(SequentialArchiver, CyclicGraphIsWrittenButRefusedOnDecode)
{
    auto node = std::make_shared<TestNode>();
    node->name = QStringLiteral("self");
    node->children = {values::fromObject(node)};
    const QByteArray data = SequentialArchiver::archivedDataWithRootObject(values::fromObject(node));
    node->children.clear(); // break the cycle so the node is freed
    ASSERT_FALSE(data.isEmpty());
    EXPECT_FALSE(SequentialUnarchiver::unarchiveObjectWithData(data, allowing({"TestNode"})).isValid());
    EXPECT_EQ(kelvaro::test::log().lines(),
              QStringList{QStringLiteral("SequentialUnarchiver: reference cycle through object 0\n")});
}

TEST(SequentialArchiver, RefusesValuesItCannotWrite)
{
    struct Row {
        const char* name;
        std::function<void(SequentialArchiver&)> encode;
        const char* reason;
    };
    const Row rows[] = {
        {"foreign value", [](SequentialArchiver& a) { a.encodeRootObject(QVariant::fromValue(QStringList{"x"})); },
         "cannot archive a value of type QStringList"},
        {"struct type", [](SequentialArchiver& a) { const double v[2] = {1, 2}; a.encodeValueOfObjCType("{CGSize=dd}", v); },
         "cannot encode values of type \"{CGSize=dd}\""},
        {"array of objects", [](SequentialArchiver& a) { const QVariant v[2]; a.encodeValueOfObjCType("[2@]", v); },
         "cannot encode values of type \"[2@]\""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kelvaro::test::log().clear();
        SequentialArchiver archiver;
        row.encode(archiver);
        EXPECT_TRUE(archiver.hasFailed());
        EXPECT_TRUE(archiver.archivedData().isNull());
        EXPECT_EQ(kelvaro::test::log().lines(), QStringList{QStringLiteral("SequentialArchiver: %1\n").arg(QLatin1String(row.reason))});
    }
}

TEST(SequentialArchiverDeathTest, KeyedCallOnTheSequentialCoderIsAContractViolation)
{
#ifdef NDEBUG
    GTEST_SKIP() << "release builds log and fail instead";
#else
    EXPECT_DEATH(
        {
            SequentialArchiver archiver;
            archiver.encodeInt32(1, QStringLiteral("key"));
        },
        ""); // the assertion's line goes to the test's log sink, not stderr
#endif
}

TEST(SequentialArchiver, RoundTripsHistoriesInsideADictionary)
{
    QVariantMap sensors;
    std::vector<std::shared_ptr<TestHistory>> histories;
    for (int n = 0; n < 200; ++n) {
        auto h = std::make_shared<TestHistory>();
        for (quint32 i = 0; i < TestHistory::kSlots; ++i)
            h->samples[i] = qint32((n * 7919 + i * 31) % 6553600) - (i % 3 == 0 ? 3276800 : 0);
        h->index = n * 50;
        h->interval = 60.0 + n / 8.0;
        h->date = utc(1700000000000LL + n * 1000);
        histories.push_back(h);
        sensors.insert(QStringLiteral("SMC.T%1").arg(n, 3, 10, QLatin1Char('0')), values::fromObject(h));
    }
    const QByteArray data = SequentialArchiver::archivedDataWithRootObject(values::fromDictionary(sensors));
    ASSERT_FALSE(data.isEmpty());
    // The slot array's type string is written once and referenced by every other history.
    EXPECT_EQ(data.count("[10080i]"), 1);

    const auto back = values::toDictionary(SequentialUnarchiver::unarchiveObjectWithData(data, allowing({"TestHistory"})));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 200);
    for (int n = 0; n < 200; ++n) {
        const auto h = objectAs<TestHistory>(values::toObject(back->value(QStringLiteral("SMC.T%1").arg(n, 3, 10, QLatin1Char('0')))));
        ASSERT_TRUE(h);
        EXPECT_EQ(h->samples, histories[size_t(n)]->samples);
        EXPECT_EQ(h->index, histories[size_t(n)]->index);
        EXPECT_EQ(h->interval, histories[size_t(n)]->interval);
        EXPECT_EQ(h->date, histories[size_t(n)]->date);
    }
}
