#include "sensors/HIDIdleTime.h"

#include "platform/foundation/Values.h"
#include "platform/registry/IORegistry.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

namespace values = platform::values;

namespace {

// An "HIDIdleTime" the test changes while the registry is in use.
class ChangingIdleProperty final : public platform::IORegistryPropertySource {
public:
    QVariantMap properties() const override
    {
        std::lock_guard lock(mutex_);
        return value_.isValid() ? QVariantMap{{QStringLiteral("HIDIdleTime"), value_}} : QVariantMap();
    }
    void set(const QVariant& value)
    {
        std::lock_guard lock(mutex_);
        value_ = value;
    }

private:
    mutable std::mutex mutex_;
    QVariant value_;
};

std::shared_ptr<const platform::IORegistry> hidRegistry(const std::vector<std::shared_ptr<ChangingIdleProperty>>& entries)
{
    platform::IORegistry::Builder builder;
    for (const auto& source : entries)
        builder.add(platform::IORegistry::RootIndex, {"IOHIDSystem", "IOService"}, "IOHIDSystem", source);
    return builder.finish();
}

class HIDIdleTime : public ::testing::Test {
protected:
    void SetUp() override { resetHIDSystemRegistryEntryCacheForTesting(); }
    void TearDown() override { resetHIDSystemRegistryEntryCacheForTesting(); }
};

} // namespace

TEST_F(HIDIdleTime, TwoHIDSystemsGiveNothingAndALinePerCall)
{
    const auto a = std::make_shared<ChangingIdleProperty>();
    a->set(values::fromUnsigned(5));
    const auto registry = hidRegistry({a, a});
    EXPECT_FALSE(hidSystemRegistryEntry(registry));
    EXPECT_EQ(currentHIDIdleTime(registry), 0u);
    EXPECT_EQ(kelvaro::test::log().count("Found 2 entries for the HID subsystem, ignoring all...\n"), 2);
    EXPECT_EQ(currentHIDIdleTime(hidRegistry({})), 0u);
    EXPECT_TRUE(kelvaro::test::log().contains("Found 0 entries for the HID subsystem, ignoring all...\n"));
}

TEST_F(HIDIdleTime, ReadsNumbersAndEightBytesOfNativeData)
{
    const auto source = std::make_shared<ChangingIdleProperty>();
    const auto registry = hidRegistry({source});
    source->set(values::fromUnsigned(301'000'000'000ull));
    EXPECT_EQ(currentHIDIdleTime(registry), 301'000'000'000ull);
    EXPECT_DOUBLE_EQ(double(currentHIDIdleTime(registry)) / 1e9, 301.0);

    const quint64 native = 0x0102030405060708ull;
    QByteArray bytes(8, '\0');
    std::memcpy(bytes.data(), &native, 8);
    source->set(values::fromData(bytes));
    EXPECT_EQ(currentHIDIdleTime(registry), native);
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());

    source->set(values::fromData(QByteArray(4, '\1')));
    EXPECT_EQ(currentHIDIdleTime(registry), 0u);
    EXPECT_TRUE(kelvaro::test::log().contains("HID subsystem entry does not contain expected class (is NSData).\n"));
    source->set(values::fromString("12"));
    EXPECT_EQ(currentHIDIdleTime(registry), 0u);
    EXPECT_TRUE(kelvaro::test::log().contains("HID subsystem entry does not contain expected class (is NSString).\n"));
}

TEST_F(HIDIdleTime, EntryIsCachedOnlyOnceItCarriesTheIdleTime)
{
    const auto source = std::make_shared<ChangingIdleProperty>();
    const auto registry = hidRegistry({source});
    EXPECT_FALSE(hidSystemRegistryEntry(registry));
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
    source->set(values::fromUnsigned(7));
    const auto entry = hidSystemRegistryEntry(registry);
    ASSERT_TRUE(entry);
    // Cached: another registry is not consulted, and the time is read anew.
    EXPECT_EQ(hidSystemRegistryEntry(hidRegistry({})), entry);
    source->set(values::fromUnsigned(9));
    EXPECT_EQ(currentHIDIdleTime(hidRegistry({})), 9u);
}
