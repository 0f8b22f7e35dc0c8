#include "acquisition/TEVSensorHistory.h"

#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace {

platform::ManualClock& testClock()
{
    return *kelvaro::test::clock();
}

std::vector<qint64> values(const QByteArray& block)
{
    std::vector<qint64> out(size_t(block.size()) / sizeof(qint64));
    memcpy(out.data(), block.constData(), size_t(block.size()));
    return out;
}

// Every slot of the ring in time order, oldest first.
std::vector<qint64> ring(const TEVSensorHistory& h)
{
    const QDateTime oldest = h.currentTime().addMSecs(-qint64(double(h.valueCount()) * h.timeDelta() * 1000));
    return values(h.rawValueDataBetweenNowAndDate(oldest));
}

std::shared_ptr<TEVSensorHistory> filled(quint64 count, std::initializer_list<qint64> raw)
{
    auto h = TEVSensorHistory::create(count, 1.0);
    for (qint64 v : raw) {
        testClock().advanceSeconds(1.0);
        h->setPresentRawValue(v);
    }
    return h;
}

} // namespace

TEST(TEVSensorHistory, CreationRefusesUnsoundShapes)
{
    EXPECT_FALSE(TEVSensorHistory::create(0, 1.0));
    EXPECT_FALSE(TEVSensorHistory::create(10, 0.0));
    EXPECT_FALSE(TEVSensorHistory::create(10, -1.0));
    EXPECT_FALSE(TEVSensorHistory::create(10, std::nan("")));
    EXPECT_FALSE(TEVSensorHistory::create(TEVSensorHistory::maximumValueCount + 1, 1.0));
    ASSERT_TRUE(TEVSensorHistory::create(1, 0.5));

    TEVSensorHistory plain;
    EXPECT_EQ(plain.valueCount(), 2u);
    EXPECT_EQ(plain.timeDelta(), 1.0);
    EXPECT_EQ(plain.currentIndex(), 0);
    EXPECT_EQ(plain.currentTime(), testClock().now());
    EXPECT_EQ(ring(plain), (std::vector<qint64>{-1, -1}));
}

TEST(TEVSensorHistory, NewHistoryReadsBackEmptySlots)
{
    auto h = TEVSensorHistory::create(380, 2.0);
    const auto block = values(h->rawValueDataBetweenNowAndDate(testClock().now().addSecs(-20)));
    EXPECT_EQ(block, std::vector<qint64>(10, -1));
}

TEST(TEVSensorHistory, EveryAcceptedValueTakesTheNextSlot)
{
    auto h = TEVSensorHistory::create(5, 1.0);
    h->setPresentRawValue(10);
    testClock().advanceSeconds(0.3); // same second
    h->setPresentRawValue(11);
    EXPECT_EQ(h->currentIndex(), 2);
    EXPECT_EQ(ring(*h), (std::vector<qint64>{-1, -1, -1, 10, 11}));
}

TEST(TEVSensorHistory, GapsOfTwoStepsOrMoreLeaveEmptySlots)
{
    struct Row {
        double gap;
        std::vector<qint64> expected;
    };
    const Row rows[] = {
        {1.0, {-1, -1, -1, -1, 1, 2}},
        {1.9, {-1, -1, -1, -1, 1, 2}},
        {2.0, {-1, -1, 1, -1, -1, 2}},
        {2.5, {-1, 1, -1, -1, -1, 2}},
        {6.0, {-1, -1, -1, -1, -1, 2}},
        {1e8, {-1, -1, -1, -1, -1, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.gap);
        auto h = TEVSensorHistory::create(6, 1.0);
        h->setPresentRawValue(1);
        testClock().advanceSeconds(row.gap);
        h->setPresentRawValue(2);
        EXPECT_EQ(ring(*h), row.expected);
        EXPECT_EQ(h->currentTime(), testClock().now());
    }
}

TEST(TEVSensorHistory, DropsValueWhenClockGoesBack)
{
    auto h = filled(4, {1, 2});
    const QDateTime newest = h->currentTime();
    const qint64 index = h->currentIndex();
    testClock().setNow(newest.addSecs(-5));
    h->setPresentRawValue(99);
    EXPECT_EQ(h->currentTime(), newest);
    EXPECT_EQ(h->currentIndex(), index);
    EXPECT_EQ(ring(*h), (std::vector<qint64>{-1, -1, 1, 2}));
}

TEST(TEVSensorHistory, ReadingWindowFollowsNewestSlot)
{
    auto h = filled(4, {1, 2, 3, 4, 5, 6});
    const QDateTime t = h->currentTime();
    EXPECT_EQ(values(h->rawValueDataBetweenNowAndDate(t)), (std::vector<qint64>{6}));
    EXPECT_EQ(values(h->rawValueDataBetweenNowAndDate(t.addMSecs(-1999))), (std::vector<qint64>{6}));
    EXPECT_EQ(values(h->rawValueDataBetweenNowAndDate(t.addSecs(-2))), (std::vector<qint64>{5, 6}));
    // The whole ring for a date valueCount to just under valueCount + 1 steps back; wraps in time order.
    EXPECT_EQ(values(h->rawValueDataBetweenNowAndDate(t.addSecs(-4))), (std::vector<qint64>{3, 4, 5, 6}));
    EXPECT_EQ(values(h->rawValueDataBetweenNowAndDate(t.addMSecs(-4999))), (std::vector<qint64>{3, 4, 5, 6}));
    EXPECT_TRUE(h->rawValueDataBetweenNowAndDate(t.addSecs(-5)).isNull());
    EXPECT_TRUE(h->rawValueDataBetweenNowAndDate(t.addMSecs(1)).isNull());
    EXPECT_TRUE(h->rawValueDataBetweenNowAndDate(QDateTime()).isNull());
    // Measured from the newest slot, not from the clock.
    testClock().advanceSeconds(100);
    EXPECT_EQ(values(h->rawValueDataBetweenNowAndDate(t.addSecs(-1))), (std::vector<qint64>{6}));
}

TEST(TEVSensorHistory, DiscardingKeepsIndexAndTimeRules)
{
    auto h = filled(4, {1, 2, 3});
    const QDateTime t = h->currentTime();
    h->discardOldestValuesWithCount(0);
    EXPECT_EQ(ring(*h), (std::vector<qint64>{-1, 1, 2, 3}));
    h->discardOldestValuesWithCount(1);
    EXPECT_EQ(ring(*h), (std::vector<qint64>{1, 2, 3, -1}));
    EXPECT_EQ(h->currentTime(), t);
    h->discardOldestValuesWithCount(~quint64(0));
    EXPECT_EQ(ring(*h), std::vector<qint64>(4, -1));

    auto g = filled(3, {7, 8});
    const qint64 index = g->currentIndex();
    g->discardAllValues();
    EXPECT_EQ(g->currentIndex(), index);
    EXPECT_EQ(ring(*g), std::vector<qint64>(3, -1));
}

TEST(TEVSensorHistory, CopyOwnsItsBuffer)
{
    auto h = filled(3, {1, 2});
    auto c = h->copy();
    testClock().advanceSeconds(1);
    h->setPresentRawValue(3);
    EXPECT_EQ(ring(*c), (std::vector<qint64>{-1, 1, 2}));
    EXPECT_EQ(ring(*h), (std::vector<qint64>{1, 2, 3}));
    EXPECT_EQ(c->valueCount(), 3u);
    EXPECT_EQ(c->timeDelta(), 1.0);
}

// Slots are kept in 32 bits with wider values beside them; a week-long ring spans many storage blocks.
TEST(TEVSensorHistory, EveryRawValueReadsBackWholeAcrossTheRing)
{
    constexpr qint64 i32max = std::numeric_limits<qint32>::max();
    constexpr qint64 i32min = std::numeric_limits<qint32>::min();
    const std::vector<qint64> widths = {0,      -1,         i32max,      i32max + 1, i32min, i32min + 1,
                                        -2,     i32min - 1, qint64(1) << 40, std::numeric_limits<qint64>::max(),
                                        std::numeric_limits<qint64>::min(), 65536 * 45};
    for (quint64 count : {quint64(3), quint64(1024), quint64(1025), quint64(10080)}) {
        SCOPED_TRACE(count);
        auto h = TEVSensorHistory::create(count, 1.0);
        // Twice round the ring, so every wide slot is overwritten by a narrow one and back.
        std::vector<qint64> written;
        for (quint64 i = 0; i < 2 * count + 5; ++i) {
            const qint64 v = (i / count) % 2 ? qint64(i) : widths[i % widths.size()];
            testClock().advanceSeconds(1.0);
            h->setPresentRawValue(v);
            written.push_back(v);
        }
        const std::vector<qint64> expected(written.end() - qsizetype(count), written.end());
        EXPECT_EQ(ring(*h), expected);
        EXPECT_EQ(ring(*h->copy()), expected);
        h->discardOldestValuesWithCount(count - 1);
        std::vector<qint64> kept(count, -1);
        kept.front() = expected.back();
        EXPECT_EQ(ring(*h), kept);
    }
}

TEST(TEVSensorHistory, DescriptionNamesShapeAndNewestValue)
{
    auto h = filled(380, {42});
    EXPECT_EQ(h->description(),
        QStringLiteral("TEVSensorHistory: capacity 380 values, time delta 1.000000 s, index 1 for reading at "
                       "2026-01-01 12:00:01 +0000 (raw value 42)\n"));
}

#include "platform/foundation/Coder.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"

#include <QTemporaryDir>

#include <limits>

namespace {

enum class Form { Sequential, Keyed };

QByteArray archive(Form form, const QVariant& root)
{
    return form == Form::Sequential ? platform::SequentialArchiver::archivedDataWithRootObject(root)
                                    : platform::KeyedArchiver::archivedDataWithRootObject(root);
}

std::shared_ptr<TEVSensorHistory> unarchive(Form form, const QByteArray& data)
{
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVSensorHistory")};
    const QVariant root = form == Form::Sequential ? platform::SequentialUnarchiver::unarchiveObjectWithData(data, options)
                                                   : platform::KeyedUnarchiver::unarchiveObjectWithData(data, options);
    return platform::objectAs<TEVSensorHistory>(platform::values::toObject(root));
}

std::shared_ptr<TEVSensorHistory> roundTrip(Form form, const TEVSensorHistory& h)
{
    return unarchive(form, archive(form, platform::values::fromObject(h.copy())));
}

// Writes the archived sequence of a history with whatever field values a test needs.
class ForgedHistory final : public platform::Archivable {
public:
    quint32 count = 3;
    double timeDelta = 1.0;
    std::vector<qint32> slotValues{1, 2, 3};
    qint32 index = 0;
    QVariant date;

    QString className() const override { return QStringLiteral("TEVSensorHistory"); }
    void encodeWithCoder(platform::Coder& coder) const override
    {
        coder.encodeValueOfObjCType("I", &count);
        coder.encodeValueOfObjCType("d", &timeDelta);
        coder.encodeArrayOfObjCType('i', slotValues.size(), slotValues.data());
        coder.encodeValueOfObjCType("i", &index);
        coder.encodeObject(date);
    }
};

class TEVSensorHistoryArchive : public ::testing::TestWithParam<Form> {};

} // namespace

TEST_P(TEVSensorHistoryArchive, RoundTripKeepsShapeSlotsAndDate)
{
    auto h = TEVSensorHistory::create(5, 2.0);
    for (qint64 v : {10, -1, 30, 40, 50, 60}) {
        testClock().advanceSeconds(2.0);
        h->setPresentRawValue(v);
    }
    auto back = roundTrip(GetParam(), *h);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->valueCount(), 5u);
    EXPECT_EQ(back->timeDelta(), 2.0);
    EXPECT_EQ(back->currentIndex(), h->currentIndex());
    EXPECT_EQ(back->currentTime(), h->currentTime());
    EXPECT_EQ(ring(*back), ring(*h));
}

TEST_P(TEVSensorHistoryArchive, DecodingMovesValuesByTheStepsSpentInTheArchive)
{
    auto h = filled(4, {1, 2, 3});
    const QByteArray data = archive(GetParam(), platform::values::fromObject(h));
    const QDateTime archived = h->currentTime();

    testClock().advanceSeconds(0.5);
    auto fresh = unarchive(GetParam(), data);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->currentTime(), archived);
    EXPECT_EQ(fresh->currentIndex(), h->currentIndex());

    testClock().advanceSeconds(1.0); // 1.5 steps old now
    auto stale = unarchive(GetParam(), data);
    ASSERT_TRUE(stale);
    EXPECT_EQ(stale->currentTime(), testClock().now());
    EXPECT_EQ(ring(*stale), (std::vector<qint64>{1, 2, 3, -1}));

    testClock().advanceSeconds(1e6); // far longer than the ring: every slot empty
    auto ancient = unarchive(GetParam(), data);
    ASSERT_TRUE(ancient);
    EXPECT_EQ(ring(*ancient), std::vector<qint64>(4, -1));
}

TEST_P(TEVSensorHistoryArchive, SlotsOutsideThirtyTwoBitsSaturate)
{
    const qint64 big = qint64(1) << 31;
    auto h = filled(4, {-1, big, -big - 5, 7});
    auto back = roundTrip(GetParam(), *h);
    ASSERT_TRUE(back);
    EXPECT_EQ(ring(*back), (std::vector<qint64>{-1, std::numeric_limits<qint32>::max(),
                               std::numeric_limits<qint32>::min(), 7}));
}

TEST_P(TEVSensorHistoryArchive, UnsoundArchivesDecodeToNil)
{
    const QVariant now = platform::values::fromDate(testClock().now());
    struct Row {
        const char* what;
        std::function<void(ForgedHistory&)> forge;
    };
    const Row rows[] = {
        {"zero count", [](ForgedHistory& f) { f.count = 0; f.slotValues.clear(); }},
        {"huge count", [](ForgedHistory& f) { f.count = (1u << 20) + 1; }},
        {"fewer slots than count", [](ForgedHistory& f) { f.count = 4; }},
        {"more slots than count", [](ForgedHistory& f) { f.count = 2; }},
        {"negative index", [](ForgedHistory& f) { f.index = -1; }},
        {"index at count", [](ForgedHistory& f) { f.index = 3; }},
        {"zero step", [](ForgedHistory& f) { f.timeDelta = 0; }},
        {"NaN step", [](ForgedHistory& f) { f.timeDelta = std::nan(""); }},
        {"infinite step", [](ForgedHistory& f) { f.timeDelta = std::numeric_limits<double>::infinity(); }},
        {"no date", [](ForgedHistory& f) { f.date = QVariant(); }},
        {"date of another kind", [](ForgedHistory& f) { f.date = platform::values::fromReal(1.0); }},
    };
    {
        auto sound = std::make_shared<ForgedHistory>();
        sound->date = now;
        ASSERT_TRUE(unarchive(GetParam(), archive(GetParam(), platform::values::fromObject(sound))));
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto forged = std::make_shared<ForgedHistory>();
        forged->date = now;
        row.forge(*forged);
        const QByteArray data = archive(GetParam(), platform::values::fromObject(forged));
        if (data.isNull())
            continue; // the archiver itself refused to write it: nothing to decode
        EXPECT_FALSE(unarchive(GetParam(), data));
    }
}

// An archive stored in a file, as a save or a download leaves it, read by a fresh unarchiver.
TEST_P(TEVSensorHistoryArchive, StoredFileReadsBackThroughAFreshUnarchiver)
{
    auto h = TEVSensorHistory::create(6, 0.5);
    for (qint64 v : {7, 8, 9}) {
        testClock().advanceSeconds(0.5);
        h->setPresentRawValue(v);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.archive"));
    ASSERT_TRUE(platform::Paths::writeFileSafely(path, archive(GetParam(), platform::values::fromObject(h))));

    const auto back = unarchive(GetParam(), kelvaro::test::readFile(path));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->timeDelta(), 0.5);
    EXPECT_EQ(back->currentTime(), h->currentTime());
    EXPECT_EQ(ring(*back), ring(*h));
}

INSTANTIATE_TEST_SUITE_P(Forms, TEVSensorHistoryArchive, ::testing::Values(Form::Sequential, Form::Keyed),
    [](const auto& info) { return info.param == Form::Sequential ? std::string("Sequential") : std::string("Keyed"); });
