#include "sensors/TEVIORegistryEntry.h"

#include "platform/foundation/Values.h"
#include "platform/registry/FixtureIORegistry.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace values = platform::values;

namespace {

QVariantMap entry(const QString& className, const QVariantMap& properties, const QVariantList& children = {},
                  const QString& path = {})
{
    QVariantMap result{{"Class", QVariantList{values::fromString(className), values::fromString("IOService")}},
                       {"Properties", properties}};
    if (!children.isEmpty())
        result.insert("Children", children);
    if (!path.isEmpty())
        result.insert("Path", values::fromString(path));
    return result;
}

// A driver ("CFBundleIdentifier") holding a nub with readings of every kind, and a battery with a rom path.
TEVIORegistryEntry::Registry sampleRegistry()
{
    const QVariantMap nub = entry("IOAHCIDevice",
                                  {{"text", values::fromString("Drive")},
                                   {"empty", values::fromString("")},
                                   {"nul", values::fromData(QByteArray("AB\0CD", 5))},
                                   {"plain", values::fromData("MacBookPro9,1")},
                                   {"bad", values::fromData("\xff\xfe")},
                                   {"count", values::fromSigned(42)},
                                   {"huge", values::fromUnsigned(~quint64(0))},
                                   {"real", values::fromReal(2.9)},
                                   {"one", values::fromSigned(1)},
                                   {"yes", values::fromBool(true)},
                                   {"list", QVariantList{values::fromSigned(1)}}});
    const QVariantMap driver = entry("AppleAHCI",
                                     {{"CFBundleIdentifier", values::fromString("com.example.ahci")},
                                      {"IOClass", values::fromString("AppleAHCIPort")}},
                                     {nub});
    const QVariantMap battery =
        entry("AppleSmartBattery", {{"count", values::fromSigned(7)}}, {}, "IODeviceTree:/rom");
    const auto loaded = platform::FixtureIORegistry::load({driver, battery});
    EXPECT_TRUE(loaded.registry) << loaded.error.toStdString();
    return loaded.registry;
}

std::shared_ptr<TEVIORegistryEntry> nub(const TEVIORegistryEntry::Registry& registry)
{
    return TEVIORegistryEntry::serviceObjectsMatchingName("IOAHCIDevice", registry)->at(0);
}

} // namespace

TEST(TEVIORegistryEntry, LookupsTellNilFromNothingFound)
{
    const auto registry = sampleRegistry();
    EXPECT_FALSE(TEVIORegistryEntry::serviceObjectsMatchingName("", registry));
    ASSERT_TRUE(TEVIORegistryEntry::serviceObjectsMatchingName("IOMedia", registry));
    EXPECT_TRUE(TEVIORegistryEntry::serviceObjectsMatchingName("IOMedia", registry)->empty());
    EXPECT_EQ(TEVIORegistryEntry::serviceObjectsMatchingName("IOService", registry)->size(), 3u);

    EXPECT_FALSE(TEVIORegistryEntry::serviceObjectsContainingPropertyWithKey("", registry));
    EXPECT_TRUE(TEVIORegistryEntry::serviceObjectsContainingPropertyWithKey("nothing", registry)->empty());
    const auto counted = TEVIORegistryEntry::serviceObjectsContainingPropertyWithKey("count", registry);
    ASSERT_EQ(counted->size(), 2u);
    EXPECT_EQ(counted->at(0)->ioKitHandle()->className(), "IOAHCIDevice");
    EXPECT_EQ(counted->at(1)->ioKitHandle()->className(), "AppleSmartBattery");

    const auto rom = TEVIORegistryEntry::registryEntryInPlane("IODeviceTree", "/rom", registry);
    ASSERT_TRUE(rom);
    EXPECT_EQ(rom->integerValueWithName("count"), 7);
    EXPECT_FALSE(TEVIORegistryEntry::registryEntryInPlane("IODeviceTree", "/efi/platform", registry));
    EXPECT_FALSE(TEVIORegistryEntry::registryEntryInPlane("", "/rom", registry));
}

TEST(TEVIORegistryEntry, TypedReadersGiveTheirAbsentResults)
{
    const auto registry = sampleRegistry();
    const auto entry = nub(registry);
    const TEVIORegistryEntry none;

    EXPECT_EQ(entry->stringValueWithName("text"), "Drive");
    EXPECT_FALSE(entry->stringValueWithName("empty").isNull());
    EXPECT_EQ(entry->stringValueWithName("nul"), "AB");
    EXPECT_EQ(entry->stringValueWithName("plain"), "MacBookPro9,1");
    for (const char* absent : {"bad", "count", "missing"})
        EXPECT_TRUE(entry->stringValueWithName(absent).isNull()) << absent;
    EXPECT_TRUE(none.stringValueWithName("text").isNull());

    EXPECT_EQ(entry->integerValueWithName("count"), 42);
    EXPECT_EQ(entry->integerValueWithName("real"), 2);
    for (const char* absent : {"text", "yes", "huge", "missing"})
        EXPECT_EQ(entry->integerValueWithName(absent), -1) << absent;
    EXPECT_EQ(none.integerValueWithName("count"), -1);

    EXPECT_TRUE(entry->boolValueWithName("yes"));
    EXPECT_FALSE(entry->boolValueWithName("one"));
    EXPECT_FALSE(none.boolValueWithName("yes"));

    EXPECT_EQ(entry->arrayValueWithName("list"), QVariantList{values::fromSigned(1)});
    EXPECT_FALSE(entry->arrayValueWithName("text"));
    EXPECT_TRUE(entry->hasValueWithName("empty"));
    EXPECT_FALSE(entry->hasValueWithName("missing"));
    EXPECT_FALSE(none.hasValueWithName("text"));
    EXPECT_EQ(entry->properties()->size(), 11);
    EXPECT_FALSE(none.properties());
}

TEST(TEVIORegistryEntry, WalksParentsChildrenAndDriverClass)
{
    const auto registry = sampleRegistry();
    const auto entry = nub(registry);
    const auto driver = entry->parentServiceEntry();
    ASSERT_TRUE(driver);
    EXPECT_EQ(driver->childServiceEntry()->ioKitHandle(), entry->ioKitHandle());
    EXPECT_FALSE(entry->childServiceEntry());
    EXPECT_EQ(entry->driverClassName(), "AppleAHCIPort");
    EXPECT_EQ(driver->driverClassName(), "AppleAHCIPort");

    const auto battery = TEVIORegistryEntry::serviceObjectsMatchingName("AppleSmartBattery", registry)->at(0);
    EXPECT_TRUE(battery->driverClassName().isNull());
    EXPECT_TRUE(TEVIORegistryEntry().driverClassName().isNull());
    EXPECT_FALSE(TEVIORegistryEntry().parentServiceEntry());
    EXPECT_FALSE(TEVIORegistryEntry::createWithIOKitHandle(nullptr));
}

TEST(TEVIORegistryEntry, DescriptionListsTheProperties)
{
    const auto registry = sampleRegistry();
    const auto battery = TEVIORegistryEntry::serviceObjectsMatchingName("AppleSmartBattery", registry)->at(0);
    EXPECT_EQ(battery->description(), "TEVIORegistryEntry: {\n    count = 7;\n}\n");
    EXPECT_EQ(TEVIORegistryEntry().description(), "TEVIORegistryEntry: (null)\n");
}
