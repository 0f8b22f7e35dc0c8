#include "platform/foundation/HostRoot.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/hardware/EmulatedSmcConnection.h"
#include "platform/registry/AppleSmcProvider.h"
#include "platform/registry/IORegistry.h"
#include "platform/registry/LinuxIORegistry.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::AppleSmcProvider;
using platform::HostRoot;
using platform::IORegistry;

namespace {

const QString kDevice = QStringLiteral("/sys/devices/platform/applesmc.768");

QVariantMap key(const char* name, const char* type, const QByteArray& bytes, bool fail = false)
{
    QVariantMap entry{{"Key", QString::fromLatin1(name)}, {"Type", QString::fromLatin1(type)}, {"Bytes", bytes}};
    if (fail)
        entry.insert("Fail", true);
    return entry;
}

QVariantMap smcSection(const QVariantList& keys)
{
    return {{"Keys", keys}};
}

const QVariantMap kSmcWithRevision = smcSection({
    key("REV ", "{rev", QByteArray::fromHex("01440f000063")),
    key("TC0D", "sp78", QByteArray::fromHex("3a40")),
});

struct FakeHost {
    QTemporaryDir dir;
    void addDevice() { ASSERT_TRUE(QDir().mkpath(dir.path() + kDevice)); }
    void write(const QString& absolute, const QByteArray& bytes) { kelvaro::test::writeFile(dir.path() + absolute, bytes); }
    HostRoot root() const { return HostRoot(dir.path()); }
};

// Builds the registry with only the SMC provider, its connection from `smc` (none when empty); counts the
// connections made.
struct Build {
    std::shared_ptr<const IORegistry> registry;
    int connections = 0;
};

Build buildWith(const HostRoot& root, const std::optional<QVariantMap>& smc)
{
    auto counter = std::make_shared<int>(0);
    const auto provider = std::make_shared<AppleSmcProvider>([smc, counter](const HostRoot&) {
        ++*counter;
        std::unique_ptr<platform::SmcConnection> connection;
        if (smc)
            connection = platform::EmulatedSmcConnection::fromSection(*smc).connection;
        return connection;
    });
    Build build;
    build.registry = platform::LinuxIORegistry::build(root, {provider});
    build.connections = *counter;
    return build;
}

QStringList names(const std::vector<IORegistry::EntryRef>& entries)
{
    QStringList result;
    for (const auto& e : entries)
        result.append(e->name());
    return result;
}

} // namespace

TEST(AppleSmcProvider, PublishesTheVersionOfTheRevisionKeyOncePerBuild)
{
    FakeHost host;
    host.addDevice();
    const Build build = buildWith(host.root(), kSmcWithRevision);
    const auto smcs = build.registry->matchingClass("AppleSMC");
    ASSERT_EQ(smcs.size(), 1u);
    EXPECT_EQ(smcs.front()->classChain(), QStringList({"AppleSMC", "IOService", "IORegistryEntry"}));
    EXPECT_EQ(smcs.front()->property("smc-version"), QVariant(QString("1.68f99")));
    EXPECT_EQ(smcs.front()->properties().size(), 1);
    smcs.front()->property("smc-version");
    EXPECT_EQ(build.connections, 1);

    // The text of the "{rev" decoding: major, minor and build are signed bytes, the release big-endian.
    const std::pair<const char*, const char*> versions[] = {
        {"020c0f000005", "2.12f5"},
        {"010a00000100", "1.100256"},
        {"ff0180000001", "-1.1ffffff801"},
    };
    for (const auto& [bytes, text] : versions) {
        const auto smc = smcSection({key("REV ", "{rev", QByteArray::fromHex(bytes))});
        const auto entry = buildWith(host.root(), smc).registry->matchingClass("AppleSMC").at(0);
        EXPECT_EQ(entry->property("smc-version"), QVariant(QString(text))) << bytes;
    }
}

TEST(AppleSmcProvider, UnreadableSmcGivesTheEntryWithoutAVersion)
{
    struct Row {
        const char* what;
        std::optional<QVariantMap> smc;
        const char* logged; // nullptr: nothing
    };
    QVariantMap refusing = kSmcWithRevision;
    refusing.insert("OpenError", 13);
    const Row rows[] = {
        {"no connection", std::nullopt, nullptr},
        {"open refused", refusing, "AppleSmcProvider: SMC not readable (error 13), no \"smc-version\"\n"},
        {"revision unreadable", smcSection({key("REV ", "{rev", QByteArray::fromHex("01440f000063"), true)}),
         "AppleSmcProvider: no readable \"REV \" key, no \"smc-version\"\n"},
        {"revision of another type", smcSection({key("REV ", "ch8*", QByteArray::fromHex("01440f000063"))}),
         "AppleSmcProvider: no readable \"REV \" key, no \"smc-version\"\n"},
    };
    FakeHost host;
    host.addDevice();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        kelvaro::test::log().clear();
        const auto smcs = buildWith(host.root(), row.smc).registry->matchingClass("AppleSMC");
        ASSERT_EQ(smcs.size(), 1u);
        EXPECT_FALSE(smcs.front()->hasProperty("smc-version"));
        EXPECT_EQ(kelvaro::test::log().lines(), row.logged ? QStringList{row.logged} : QStringList{});
    }
}

TEST(AppleSmcProvider, ControllerWithoutRevisionKeyPublishesAnEmptyVersion)
{
    FakeHost host;
    host.addDevice();
    const auto smcs = buildWith(host.root(), smcSection({key("TC0D", "sp78", QByteArray::fromHex("3a40"))}))
                          .registry->matchingClass("AppleSMC");
    ASSERT_EQ(smcs.size(), 1u);
    EXPECT_EQ(smcs.front()->property("smc-version"), QVariant(QString()));
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(AppleSmcProvider, NoDeviceGivesNoEntryAndNoConnection)
{
    FakeHost host;
    host.write(kDevice, "not a folder");
    const Build build = buildWith(host.root(), kSmcWithRevision);
    EXPECT_TRUE(build.registry->matchingClass("AppleSMC").empty());
    EXPECT_EQ(build.connections, 0);
}

TEST(AppleSmcProvider, SimulatedComputerVersionComesFromItsEmulatedTable)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/root" + kDevice));
    const QVariantMap smc = smcSection({key("REV ", "{rev", QByteArray::fromHex("020c0f000005"))});
    const auto computer = platform::SimulatedComputer::fromDictionary({{"SMC", smc}}, dir.path());
    ASSERT_TRUE(computer.computer) << computer.error.toStdString();
    platform::SimulatedComputer::setCurrent(computer.computer);
    const auto smcs = IORegistry::current()->matchingClass("AppleSMC");
    platform::SimulatedComputer::setCurrent(nullptr);
    ASSERT_EQ(smcs.size(), 1u);
    EXPECT_EQ(smcs.front()->property("smc-version"), QVariant(QString("2.12f5")));
}

TEST(LinuxIORegistry, DefaultProvidersGiveTheSameEntriesInTheSameOrder)
{
    FakeHost host;
    host.addDevice();
    host.write("/sys/class/dmi/id/product_name", "MacBookPro5,1\n");
    host.write("/sys/class/dmi/id/bios_version", "MBP51.88Z\n");
    const auto first = platform::LinuxIORegistry::build(host.root());
    const auto second = platform::LinuxIORegistry::build(host.root());
    const QStringList expected = {"Root", "IOPlatformExpertDevice", "rom", "AppleSMBIOS", "AppleSMC"};
    EXPECT_EQ(names(first->entries()), expected);
    EXPECT_EQ(names(second->entries()), expected);
    // The fake device has no readable index: the live connection fails to open.
    EXPECT_FALSE(first->matchingClass("AppleSMC").front()->hasProperty("smc-version"));
}
