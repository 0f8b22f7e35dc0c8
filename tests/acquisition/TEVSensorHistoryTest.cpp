#include "acquisition/TEVSensorHistory.h"

#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

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

TEST(TEVSensorHistory, DescriptionNamesShapeAndNewestValue)
{
    auto h = filled(380, {42});
    EXPECT_EQ(h->description(),
        QStringLiteral("TEVSensorHistory: capacity 380 values, time delta 1.000000 s, index 1 for reading at "
                       "2026-01-01 12:00:01 +0000 (raw value 42)\n"));
}
