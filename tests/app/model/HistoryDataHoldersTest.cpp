#include "app/model/HistoryValueCollection.h"
#include "app/model/TEVGraphSpecifier.h"

#include <gtest/gtest.h>

namespace {

TEST(TEVGraphSpecifier, StartsWithoutCurveOrExtremes)
{
    TEVGraphSpecifier specifier;
    EXPECT_FALSE(specifier.associatedGauge());
    EXPECT_TRUE(specifier.rawHistoryData().isNull());
    EXPECT_EQ(specifier.minimumValue(), 0.0);
    EXPECT_EQ(specifier.maximumValue(), 0.0);
    EXPECT_EQ(specifier.minimumSampleIndex(), -1);
    EXPECT_EQ(specifier.maximumSampleIndex(), -1);

    specifier.setMinimum(21.5, 3, 68.0, 17);
    EXPECT_EQ(specifier.minimumValue(), 21.5);
    EXPECT_EQ(specifier.minimumSampleIndex(), 3);
    EXPECT_EQ(specifier.maximumValue(), 68.0);
    EXPECT_EQ(specifier.maximumSampleIndex(), 17);
}

TEST(HistoryValueCollection, ValueAtStaysInsideCountsAndBlock)
{
    HistoryValueCollection collection;
    collection.setNumberOfGauges(2);
    collection.setNumberOfSamples(3);
    collection.setValueArray({1, 2, 3, 4, HistoryValueCollection::kNoValue, 6});
    EXPECT_EQ(collection.valueAt(0, 0), 1.0);
    EXPECT_EQ(collection.valueAt(1, 0), 4.0);
    EXPECT_EQ(collection.valueAt(1, 1), HistoryValueCollection::kNoValue);
    EXPECT_EQ(collection.valueAt(1, 2), 6.0);
    EXPECT_FALSE(collection.valueAt(2, 0));
    EXPECT_FALSE(collection.valueAt(0, 3));

    // Counts larger than the block never read past it.
    collection.setValueArray({1, 2, 3, 4});
    EXPECT_EQ(collection.valueAt(1, 0), 4.0);
    EXPECT_FALSE(collection.valueAt(1, 1));
    collection.setNumberOfGauges(~quint64(0));
    collection.setNumberOfSamples(~quint64(0) / 2);
    EXPECT_FALSE(collection.valueAt(3, 1));
    EXPECT_EQ(collection.valueAt(0, 2), 3.0);
    collection.setValueArray({});
    EXPECT_FALSE(collection.valueAt(0, 0));
}

} // namespace
