#include "sensors/TEVMachineInfo.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/registry/IORegistryPropertySource.h"
#include "tests/sensors/SensorTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using platform::values::fromData;
using platform::values::fromString;

namespace {

using Files = std::map<QString, QByteArray>;

// A host root in a temporary folder holding `files` (paths relative to the root) and symbolic links.
struct FakeRoot {
    QTemporaryDir dir;
    explicit FakeRoot(const Files& files, const std::map<QString, QString>& links = {})
    {
        for (const auto& [path, bytes] : files)
            kelvaro::test::writeFile(dir.path() + QLatin1Char('/') + path, bytes);
        for (const auto& [path, target] : links) {
            kelvaro::test::writeFile(dir.path() + QLatin1Char('/') + path + QStringLiteral(".tmp"), {});
            QFile::remove(dir.path() + QLatin1Char('/') + path + QStringLiteral(".tmp"));
            EXPECT_TRUE(QFile::link(target, dir.path() + QLatin1Char('/') + path)) << qPrintable(path);
        }
    }
    platform::HostRoot root() const { return platform::HostRoot(dir.path()); }
};

// A physical interface with a permanent address.
Files nic(const QString& name, int index, const QByteArray& address, const QByteArray& assignType = "0")
{
    const QString base = QStringLiteral("sys/class/net/") + name + QLatin1Char('/');
    return {{base + QStringLiteral("ifindex"), QByteArray::number(index) + '\n'},
            {base + QStringLiteral("address"), address + '\n'},
            {base + QStringLiteral("addr_assign_type"), assignType + '\n'}};
}

std::map<QString, QString> deviceLink(const QString& name)
{
    return {{QStringLiteral("sys/class/net/") + name + QStringLiteral("/device"), QStringLiteral("../../../0000:00:19.0")}};
}

Files merged(std::initializer_list<Files> parts)
{
    Files all;
    for (const Files& part : parts)
        all.insert(part.begin(), part.end());
    return all;
}

// A registry with one entry per (class chain, path, properties) row.
struct Entry {
    QStringList classes;
    QString path;
    QVariantMap properties;
};

std::shared_ptr<const platform::IORegistry> registryWith(const std::vector<Entry>& entries)
{
    platform::IORegistry::Builder builder;
    for (const Entry& entry : entries) {
        builder.add(platform::IORegistry::RootIndex, entry.classes, entry.classes.first(),
                    std::make_shared<platform::StaticIORegistryPropertySource>(entry.properties),
                    entry.path.isEmpty() ? QStringList{} : QStringList{entry.path});
    }
    return builder.finish();
}

Entry platformExpert(const QString& serial, const QString& board = QStringLiteral("Mac-35C1E88140C3E6CF"))
{
    return {{"IOPlatformExpertDevice", "IOService", "IORegistryEntry"},
            {},
            {{"IOPlatformSerialNumber", fromString(serial)}, {"board-id", fromString(board)}}};
}

platform::UnarchiveOptions allowMachineInfo()
{
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVMachineInfo")};
    return options;
}

// An archive of the class holding exactly `fields`: integers as scalars, everything else as objects.
std::shared_ptr<TEVMachineInfo> decoded(const QVariantMap& fields)
{
    const auto forged = std::make_shared<sensortest::ForgedArchive>(QStringLiteral("TEVMachineInfo"), [fields](platform::Coder& coder) {
        for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
            const auto kind = platform::values::kindOf(it.value());
            if (kind == platform::values::Kind::Signed || kind == platform::values::Kind::Unsigned)
                coder.encodeInt64(qint64(it.value().toULongLong()), it.key());
            else if (kind == platform::values::Kind::Bool)
                coder.encodeBool(it.value().toBool(), it.key());
            else
                coder.encodeObject(it.value(), it.key());
        }
    });
    const QByteArray archive = platform::KeyedArchiver::archivedDataWithRootObject(platform::values::fromObject(forged));
    return platform::objectAs<TEVMachineInfo>(
        platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(archive, allowMachineInfo())));
}

std::shared_ptr<TEVMachineInfo> roundTrip(const TEVMachineInfo& info)
{
    const QByteArray archive = platform::KeyedArchiver::archivedDataWithRootObject(
        platform::values::fromObject(std::make_shared<TEVMachineInfo>(info)));
    return platform::objectAs<TEVMachineInfo>(
        platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(archive, allowMachineInfo())));
}

} // namespace

TEST(TEVMachineInfo, ProductionWeekAndYearFollowTheSerialNumberRules)
{
    kelvaro::test::clock()->setNow(QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC));
    struct Row { const char* serial; bool ok; qint64 week; qint64 year; };
    const Row rows[] = {
        {"C02XK0ABJHD3", true, 42, 2018}, // 'X' second half of digit 8; 2028 is ahead, so 2018
        {"C02CK0ABJHD3", true, 16, 2020}, // 'C' first half of digit 0
        {"C02H10ABJHD3", true, 1, 2022},
        {"C02ZY0ABJHD3", true, 53, 2019}, // last entries of both tables
        {"C02V90ABJHD3", true, 35, 2017},
        {"C02RY0ABJHD3", true, 27, 2026}, // digit 6 is the current year
        {"C02TY0ABJHD3", true, 27, 2017}, // digit 7 would be next year
        {"C02xK0ABJHD3", false, 0, 0},    // upper case only
        {"C02AK0ABJHD3", false, 0, 0},    // 'A' is no year character
        {"C02X00ABJHD3", false, 0, 0},    // '0' is no week character
        {"C02XS0ABJHD3", false, 0, 0},    // 'S' is no week character
        {"AB40100ABCD", true, 1, 2024},
        {"AB75200ABCD", true, 52, 2017},
        {"ABx1y00ABCD", true, 1, 2020},   // no leading digits read as 0
        {"ZZZNOSERIAL-001b63a1c2d3", false, 0, 0},
        {"ZZZNOSERIAL", false, 0, 0},
        {"", false, 0, 0},
        {"C02XK0ABJH", false, 0, 0},
    };
    for (const Row& row : rows) {
        qint64 week = 0;
        qint64 year = 0;
        EXPECT_EQ(TEVMachineInfo::getProductionWeek(&week, &year, QString::fromLatin1(row.serial)), row.ok) << row.serial;
        if (row.ok) {
            EXPECT_EQ(week, row.week) << row.serial;
            EXPECT_EQ(year, row.year) << row.serial;
        }
    }
    EXPECT_TRUE(TEVMachineInfo::getProductionWeek(nullptr, nullptr, QStringLiteral("C02XK0ABJHD3")));
}

TEST(TEVMachineInfo, ProductionDateIsTheSundayStartingTheWeek)
{
    struct Row { qint64 week; qint64 year; QDate expected; };
    const Row rows[] = {
        {1, 2018, QDate(2017, 12, 31)}, // 1 January 2018 is a Monday
        {42, 2018, QDate(2018, 10, 14)},
        {1, 2023, QDate(2023, 1, 1)},   // 1 January 2023 is a Sunday
        {53, 2019, QDate(2019, 12, 29)},
    };
    for (const Row& row : rows) {
        const QDateTime date = TEVMachineInfo::dateForAppleProductionWeek(row.week, row.year);
        EXPECT_EQ(date.toLocalTime().date(), row.expected) << row.week << "/" << row.year;
        EXPECT_EQ(date.toLocalTime().time(), QTime(0, 0));
    }
    EXPECT_FALSE(TEVMachineInfo::dateForAppleProductionWeek(1, 0).isValid());
    EXPECT_FALSE(TEVMachineInfo::dateForAppleProductionWeek(1LL << 40, 2018).isValid());
}

TEST(TEVMachineInfo, SerialNumberFallsBackToThePermanentAddressOfTheFirstPhysicalInterface)
{
    kelvaro::test::clock()->setNow(QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC));
    // eth9 has the lowest index; wlan0's address is randomised; br0 and lo have no device behind them.
    const Files files = merged({nic("br0", 1, "aa:aa:aa:aa:aa:aa"), nic("eth9", 2, "00:1B:63:A1:C2:D3"),
                                nic("eno1", 3, "00:11:22:33:44:55"), nic("wlan0", 1, "66:77:88:99:aa:bb", "3"),
                                nic("lo", 0, "00:00:00:00:00:00")});
    std::map<QString, QString> links = deviceLink("eth9");
    links.merge(deviceLink("eno1"));
    links.merge(deviceLink("wlan0"));
    const FakeRoot fake(files, links);

    struct Row { const char* name; std::vector<Entry> registry; QString serial; QString board; bool dated; };
    const Row rows[] = {
        {"no platform expert", {}, "ZZZNOSERIAL-001b63a1c2d3", "", false},
        {"real serial", {platformExpert("C02XK0ABJHD3")}, "C02XK0ABJHD3", "Mac-35C1E88140C3E6CF", true},
        {"empty serial", {platformExpert("")}, "ZZZNOSERIAL-001b63a1c2d3", "Mac-35C1E88140C3E6CF", false},
        {"zero", {platformExpert("0")}, "ZZZNOSERIAL-001b63a1c2d3", "Mac-35C1E88140C3E6CF", false},
        {"OEM text", {platformExpert("  to be filled by o.e.m. \n")}, "ZZZNOSERIAL-001b63a1c2d3", "Mac-35C1E88140C3E6CF", false},
        {"Not Specified", {platformExpert("Not Specified")}, "ZZZNOSERIAL-001b63a1c2d3", "Mac-35C1E88140C3E6CF", false},
        {"System Serial Number", {platformExpert("System Serial Number")}, "ZZZNOSERIAL-001b63a1c2d3", "Mac-35C1E88140C3E6CF", false},
        {"Default string", {platformExpert("DEFAULT STRING")}, "ZZZNOSERIAL-001b63a1c2d3", "Mac-35C1E88140C3E6CF", false},
        // An entry without "board-id" does not count; the next one does.
        {"first complete entry",
         {{{"IOPlatformExpertDevice"}, {}, {{"IOPlatformSerialNumber", fromString("W80000000001")}}},
          platformExpert("C02XK0ABJHD3", "Mac-2")},
         "C02XK0ABJHD3", "Mac-2", true},
    };
    for (const Row& row : rows) {
        const TEVMachineInfo info(fake.root(), registryWith(row.registry));
        EXPECT_EQ(info.systemSerialNumber(), row.serial) << row.name;
        EXPECT_EQ(info.logicBoardIdentifier(), row.board) << row.name;
        EXPECT_EQ(info.systemProductionDate().isValid(), row.dated) << row.name;
    }
}

TEST(TEVMachineInfo, SerialNumberWithoutAnyPermanentAddressIsThePrefixAlone)
{
    // A virtual interface only, and a physical one whose address is not permanent (no ethtool off the live root).
    const FakeRoot fake(merged({nic("veth0", 2, "02:42:ac:11:00:02"), nic("wlan0", 3, "66:77:88:99:aa:bb", "3")}),
                        deviceLink("wlan0"));
    EXPECT_EQ(TEVMachineInfo(fake.root(), nullptr).systemSerialNumber(), QStringLiteral("ZZZNOSERIAL"));
    const FakeRoot empty(Files{});
    const TEVMachineInfo info(empty.root(), nullptr);
    EXPECT_EQ(info.systemSerialNumber(), QStringLiteral("ZZZNOSERIAL"));
    EXPECT_FALSE(info.systemProductionDate().isValid());
}

TEST(TEVMachineInfo, ComputerNameFallsBackToHostNameThenMacintosh)
{
    struct Row { const char* name; Files files; QString expected; };
    const Row rows[] = {
        {"pretty host name", {{"etc/machine-info", "PRETTY_HOSTNAME=\"Anna's MacBook Pro\"\n"},
                              {"proc/sys/kernel/hostname", "annas-mbp\n"}}, "Anna's MacBook Pro"},
        {"empty pretty host name", {{"etc/machine-info", "PRETTY_HOSTNAME=\n"}, {"proc/sys/kernel/hostname", "annas-mbp\n"}},
         "annas-mbp"},
        {"kernel default", {{"proc/sys/kernel/hostname", "(none)\n"}}, "Macintosh"},
        {"empty host name", {{"proc/sys/kernel/hostname", "\n"}}, "Macintosh"},
        {"nothing", {}, "Macintosh"},
    };
    for (const Row& row : rows) {
        const FakeRoot fake(row.files);
        EXPECT_EQ(TEVMachineInfo(fake.root(), nullptr).computerName(), row.expected) << row.name;
    }
}

TEST(TEVMachineInfo, CollectsIdentityAndSystemFromHostAndRegistry)
{
    const FakeRoot fake(Files{
        {"sys/class/dmi/id/product_name", "MacBookPro11,1\n"},
        {"sys/class/dmi/id/product_uuid", "8c2f1a9e-3b4d-4e5f-9a6b-7c8d9e0f1a2b\n"},
        {"etc/machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n"},
        {"etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nVERSION_ID=\"12\"\n"},
        {"proc/version", "Linux version 6.1.0-18-amd64 (debian-kernel@lists.debian.org) #1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1\n"},
        {"proc/sys/kernel/ostype", "Linux\n"},
        {"proc/sys/kernel/osrelease", "6.1.0-18-amd64\n"},
        {"proc/sys/kernel/version", "#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)\n"},
    });
    const QByteArray colors = QByteArray::fromHex("00000000103020000000000000000000");
    const auto registry = registryWith({
        {{"IOService"}, "IODeviceTree:/rom", {{"version", fromString("MBP111.88Z.0138.B17")}, {"release-date", fromString("08/10/2016")}}},
        {{"AppleSMC", "IOService"}, {}, {{"Generation", platform::values::fromSigned(2)}}},
        {{"IOService"}, "IODeviceTree:/efi/platform", {{"device-colors", fromData(colors)}}},
    });
    const TEVMachineInfo info(fake.root(), registry);
    EXPECT_EQ(info.systemModelCode(), QStringLiteral("MacBookPro11,1"));
    EXPECT_EQ(info.systemMarketingName(), QStringLiteral("MacBook Pro (Retina, 13-inch, Late 2013)"));
    EXPECT_FALSE(info.systemModelDescription().isEmpty());
    EXPECT_EQ(info.systemUUIDString(), QStringLiteral("8C2F1A9E-3B4D-4E5F-9A6B-7C8D9E0F1A2B"));
    EXPECT_EQ(info.systemFirmwareVersion(), QStringLiteral("MBP111.88Z.0138.B17 (08/10/2016)"));
    EXPECT_EQ(info.systemManagementControllerVersion(), QStringLiteral("Gen 2"));
    EXPECT_EQ(info.baseOperatingSystemName(), QStringLiteral("Linux"));
    EXPECT_EQ(info.baseOperatingSystemVersion(), QStringLiteral("6.1.0-18-amd64"));
    EXPECT_EQ(info.kernelRevision(), (6 << 16) | (1 << 8));
    EXPECT_TRUE(info.kernelVersionSpecification().startsWith(QLatin1String("Linux version 6.1.0-18-amd64")));
    EXPECT_EQ(info.operatingSystemBuild(), QStringLiteral("#1 SMP PREEMPT_DYNAMIC Debian 6.1.76-1 (2024-02-01)"));
    EXPECT_EQ(info.localizedOSVersionString(), QStringLiteral("Debian GNU/Linux 12 (bookworm)"));
    EXPECT_EQ(info.preReleaseOSInfo(), (QVariantMap{{"IsPreReleaseOS", false}}));
    EXPECT_EQ(info.deviceColorData(), colors);
    EXPECT_EQ(info.systemModelCodeWithColorSpecification(), QStringLiteral("MacBookPro11,1@ECOLOR=32,48,16"));
    EXPECT_FALSE(info.mayNotReflectLocalMachine());

    // Without DMI a program-specific derivation of the machine id (never the id itself) stands in for the
    // UUID, and the model code and firmware stay empty.
    const FakeRoot bare(Files{{"etc/machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n"},
                         {"sys/class/dmi/id/product_uuid", "00000000-0000-0000-0000-000000000000\n"}});
    const TEVMachineInfo vm(bare.root(), registryWith({{{"IOService"}, "IODeviceTree:/rom", {}}}));
    EXPECT_EQ(vm.systemUUIDString(), QStringLiteral("026CC1E2-0CEB-44B1-8CA3-E9921E3EC644"));
    EXPECT_EQ(vm.systemModelCode(), QStringLiteral(""));
    EXPECT_FALSE(vm.systemModelCode().isNull());
    EXPECT_EQ(vm.systemFirmwareVersion(), QStringLiteral(""));
    EXPECT_TRUE(vm.deviceColorData().isNull());
}

TEST(TEVMachineInfo, MarketingNameCorrectsTheSwappedMidTwentyTwelveModels)
{
    const auto entry = [](const char* model, const char* description) {
        return QVariant(QVariantMap{{"_LOCALIZABLE_", QVariantMap{{"marketingModel", model}, {"description", description}}}});
    };
    const QVariantMap swapped{{"MacBookPro9,1", entry("MacBook Pro (13-inch, Mid 2012)", "listed under 9,1")},
                              {"MacBookPro9,2", entry("MacBook Pro (15-inch, Mid 2012)", "listed under 9,2")},
                              {"Broken1,1", QVariant(QStringLiteral("no dictionary"))},
                              {"NoText1,1", entry("Only a name", "")}};
    struct Row { const char* model; bool ok; const char* name; const char* description; };
    const Row rows[] = {
        {"MacBookPro9,1", true, "MacBook Pro (15-inch, Mid 2012)", "listed under 9,2"},
        {"MacBookPro9,2", true, "MacBook Pro (13-inch, Mid 2012)", "listed under 9,1"},
        {"Broken1,1", false, "", ""},
        {"NoText1,1", false, "Only a name", ""},
        {"Unknown9,9", false, "", ""},
        {"", false, "", ""},
    };
    for (const Row& row : rows) {
        QString name;
        QString description;
        EXPECT_EQ(TEVMachineInfo::getLocalizedMarketingName(&name, &description, QLatin1String(row.model), swapped), row.ok)
            << row.model;
        EXPECT_EQ(name, QLatin1String(row.name)) << row.model;
        EXPECT_EQ(description, QLatin1String(row.description)) << row.model;
    }
    // The replacement entry is missing: nothing is delivered.
    QString name;
    EXPECT_FALSE(TEVMachineInfo::getLocalizedMarketingName(
        &name, nullptr, QStringLiteral("MacBookPro9,1"),
        QVariantMap{{"MacBookPro9,1", entry("MacBook Pro (13-inch, Mid 2012)", "x")}}));
    EXPECT_TRUE(name.isEmpty());

    // Our own list names the models of the simulated computers correctly.
    for (const char* model : {"MacBookPro9,1", "MacBookPro9,2", "MacBookPro11,1", "MacPro6,1", "MacPro7,1"})
        EXPECT_TRUE(TEVMachineInfo::getLocalizedMarketingName(&name, nullptr, QLatin1String(model))) << model;
    TEVMachineInfo::getLocalizedMarketingName(&name, nullptr, QStringLiteral("MacBookPro9,1"));
    EXPECT_TRUE(name.contains(QLatin1String("15-inch")));
}

TEST(TEVMachineInfo, KeyedArchiveRoundTripsEveryFieldIncludingUnsignedValuesAboveTwoToTheSixtyThird)
{
    const auto original = decoded({
        {"processorCount", 12}, {"activeProcessorCount", 11}, {"processorChipCount", 1}, {"physicalCoreCount", 6},
        {"processorVendor", "GenuineIntel"}, {"processorBrand", "Intel(R) Xeon(R) CPU E5-1650 v2 @ 3.50GHz"},
        {"processorFamilyCode", 6}, {"processorModelCode", 62}, {"processorStepping", 4},
        {"processorSignature", platform::values::fromUnsigned(0x8000000000306E4ULL << 4)},
        {"isProcessorMultithreaded", true}, {"processorFrequency", 3500000000LL},
        {"sizeL1InstructionCache", 32768}, {"sizeL1DataCache", 32768}, {"sizeL2Cache", 262144}, {"sizeL3Cache", 12582912},
        {"sizeRAM", 34359738368LL}, {"sizeOptimumFreeRAM", 123456789}, {"sizeAddressableRAM", 1LL << 46},
        {"sizeAddressableVM", platform::values::fromUnsigned(~0ULL)},
        {"systemModelCode", "MacPro6,1"}, {"systemSerialNumber", "F5KM70ABF9VM"}, {"logicBoardIdentifier", "Mac-F60DEB81FF30ACF6"},
        {"systemUUID", "2F6E1C4A-8B9D-4A3E-B2C1-D0E9F8A7B6C5"},
        {"systemProductionDate", platform::values::fromDate(QDateTime(QDate(2015, 3, 1), QTime(0, 0), Qt::UTC))},
        {"systemMarketingName", "Mac Pro (Late 2013)"}, {"systemModelDescription", "Workstation"},
        {"computerName", "Studio"}, {"systemFirmwareVersion", "MP61.88Z.0116.B25 (10/30/2018)"},
        {"systemManagementControllerVersion", "2.20f18"}, {"kernelVersionSpecification", "Linux version 6.1.0"},
        {"kernelRevision", -5}, {"baseOperatingSystemName", "Linux"}, {"baseOperatingSystemVersion", "6.1.0-18-amd64"},
        {"operatingSystemBuild", "#1 SMP"}, {"localizedOSVersionString", "Debian GNU/Linux 12 (bookworm)"},
        {"PreReleaseOSInfo", QVariantMap{{"IsPreReleaseOS", true}, {"SeedingProgram", 2}}},
        {"deviceColorData", QByteArray(16, '\x07')},
    });
    ASSERT_TRUE(original);
    EXPECT_EQ(original->processorSignature(), 0x8000000000306E4ULL << 4);
    const auto back = roundTrip(*original);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->processorSignature(), 0x8000000000306E4ULL << 4);
    EXPECT_EQ(back->sizeAddressableVM(), ~0ULL);
    EXPECT_EQ(back->kernelRevision(), -5);
    EXPECT_EQ(back->description(), original->description());
    EXPECT_EQ(back->systemUUIDString(), QStringLiteral("2F6E1C4A-8B9D-4A3E-B2C1-D0E9F8A7B6C5"));
    EXPECT_EQ(back->systemProductionDate(), QDateTime(QDate(2015, 3, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(back->preReleaseOSInfo().value("SeedingProgram").toLongLong(), 2);
    EXPECT_EQ(back->deviceColorData(), QByteArray(16, '\x07'));
    EXPECT_TRUE(back->isProcessorMultithreaded());
    EXPECT_TRUE(back->mayNotReflectLocalMachine());

    // The wire form: the scalar keys are plain integers and booleans, the UUID its text.
    const auto fields = sensortest::generic(sensortest::ArchiveKind::Keyed, back);
    EXPECT_EQ(fields.value("codingVersion").toLongLong(), 1);
    EXPECT_EQ(platform::values::kindOf(fields.value("isProcessorMultithreaded")), platform::values::Kind::Bool);
    EXPECT_EQ(fields.value("systemUUID"), QVariant(QStringLiteral("2F6E1C4A-8B9D-4A3E-B2C1-D0E9F8A7B6C5")));
    EXPECT_FALSE(fields.contains("mayNotReflectLocalMachine"));
}

TEST(TEVMachineInfo, DecodingLeavesAbsentOrEmptyObjectsNil)
{
    struct Row { const char* name; QVariantMap fields; };
    const Row rows[] = {
        {"no keys", {}},
        {"empty UUID text", {{"systemUUID", ""}}},
        {"UUID text that is no UUID", {{"systemUUID", "not a uuid"}}},
    };
    for (const Row& row : rows) {
        const auto info = decoded(row.fields);
        ASSERT_TRUE(info) << row.name;
        EXPECT_FALSE(info->systemUUID()) << row.name;
        EXPECT_TRUE(info->systemUUIDString().isNull()) << row.name;
        EXPECT_TRUE(info->deviceColorData().isNull()) << row.name;
        EXPECT_FALSE(info->systemProductionDate().isValid()) << row.name;
        EXPECT_EQ(info->processorCount(), 0u) << row.name;
        EXPECT_TRUE(info->mayNotReflectLocalMachine()) << row.name;
        // No colour data: not written back either.
        EXPECT_FALSE(sensortest::generic(sensortest::ArchiveKind::Keyed, info).contains("deviceColorData")) << row.name;
    }
    // A string where a number belongs, or a number where a string belongs, is a bad archive.
    EXPECT_FALSE(decoded({{"processorCount", "twelve"}}));
    EXPECT_FALSE(decoded({{"systemSerialNumber", QVariantList{1}}}));
}

TEST(TEVMachineInfo, CopyDescribesAnotherComputerWithoutLocalSMBIOSFacts)
{
    const FakeRoot fake(Files{{"proc/sys/kernel/hostname", "studio\n"}});
    const auto local = std::make_shared<TEVMachineInfo>(fake.root(), nullptr);
    EXPECT_FALSE(local->mayNotReflectLocalMachine());
    const auto copy = local->copy();
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->mayNotReflectLocalMachine());
    EXPECT_EQ(copy->computerName(), QStringLiteral("studio"));
    EXPECT_EQ(copy->systemSerialNumber(), local->systemSerialNumber());
    EXPECT_EQ(copy->systemVendor(), QStringLiteral(""));
    EXPECT_FALSE(copy->systemVendor().isNull());
    EXPECT_EQ(copy->mainboardSerialNumber(), QStringLiteral(""));
}

TEST(TEVMachineInfo, SequentialCodersFailWithTheKeyedCodingError)
{
    const FakeRoot fake(Files{});
    const auto info = std::make_shared<TEVMachineInfo>(fake.root(), nullptr);
    EXPECT_TRUE(platform::SequentialArchiver::archivedDataWithRootObject(platform::values::fromObject(info)).isNull());
    EXPECT_TRUE(kelvaro::test::log().contains(
        QStringLiteral("TEVMachineInfo: encoder class SequentialArchiver does not support keyed coding.")))
        << qPrintable(kelvaro::test::log().lines().join(QString()));

    // A sequential archive that claims to hold the class.
    const auto forged = std::make_shared<sensortest::ForgedArchive>(QStringLiteral("TEVMachineInfo"), [](platform::Coder& coder) {
        const qint64 value = 1;
        coder.encodeValueOfObjCType("q", &value);
    });
    const QByteArray archive = platform::SequentialArchiver::archivedDataWithRootObject(platform::values::fromObject(forged));
    ASSERT_FALSE(archive.isNull());
    EXPECT_FALSE(sensortest::unarchive(sensortest::ArchiveKind::Sequential, archive, allowMachineInfo()).isValid());
    EXPECT_TRUE(kelvaro::test::log().contains(
        QStringLiteral("TEVMachineInfo: decoder class SequentialUnarchiver does not support keyed coding.")))
        << qPrintable(kelvaro::test::log().lines().join(QString()));
}

TEST(TEVMachineInfo, SharedInstanceIsCreatedOnce)
{
    const auto first = TEVMachineInfo::sharedMachineInfo();
    EXPECT_EQ(TEVMachineInfo::sharedMachineInfo(), first);
    EXPECT_FALSE(first->systemSerialNumber().isEmpty());
    EXPECT_FALSE(first->mayNotReflectLocalMachine());
}

// --- Presentation texts -------------------------------------------------------------------------------

namespace {

struct PresentationFixture : ::testing::Test {
    QLocale savedLocale;
    void SetUp() override { savedLocale = QLocale(); }
    void TearDown() override
    {
        QLocale::setDefault(savedLocale);
        platform::Bundle::setPreferredLanguages({});
    }
    static void use(const char* language)
    {
        const bool german = qstrcmp(language, "de") == 0;
        QLocale::setDefault(german ? QLocale(QLocale::German, QLocale::Germany) : QLocale(QLocale::English, QLocale::UnitedStates));
        platform::Bundle::setPreferredLanguages({QString::fromLatin1(language)});
    }
};

} // namespace

TEST_F(PresentationFixture, TextsInEnglishAndGerman)
{
    const auto info = decoded({
        {"processorCount", 12}, {"activeProcessorCount", 11}, {"processorChipCount", 1}, {"physicalCoreCount", 6},
        {"processorFamilyCode", 6}, {"processorModelCode", 62}, {"processorStepping", 4}, {"processorSignature", 198372},
        {"isProcessorMultithreaded", true}, {"sizeL1InstructionCache", 32768}, {"sizeL1DataCache", 65536},
        {"sizeRAM", 34359738368LL}, {"sizeOptimumFreeRAM", 1610612736}, {"sizeAddressableRAM", 1LL << 46},
        {"sizeAddressableVM", 1LL << 48}, {"baseOperatingSystemName", "Linux"}, {"baseOperatingSystemVersion", "6.1.0"},
        {"kernelRevision", 393472},
        {"systemProductionDate", platform::values::fromDate(QDateTime(QDate(2018, 10, 14), QTime(12, 0), Qt::UTC))},
    });
    const auto chipless = decoded({{"processorCount", 2}, {"activeProcessorCount", 2}, {"physicalCoreCount", 2}});
    ASSERT_TRUE(info && chipless);
    struct Row { const char* language; std::function<QString()> text; QString expected; };
    const Row rows[] = {
        {"en", [&] { return info->localizedProcessorCountSummary(); }, "12 processors (11 active) on 6 cores in one chip"},
        {"de", [&] { return info->localizedProcessorCountSummary(); }, "12 Prozessoren (11 aktiv) auf 6 Kernen in einem Chip"},
        {"en", [&] { return chipless->localizedProcessorCountSummary(); }, "2 processors (2 active) on 2 cores in 0 chips"},
        {"de", [&] { return chipless->localizedProcessorCountSummary(); }, "2 Prozessoren (2 aktiv) auf 2 Kernen in 0 Chips"},
        {"en", [&] { return info->localizedProcessorTypeSummary(); }, "Family 6, model 62, stepping 4. (Signature 198372)"},
        {"de", [&] { return info->localizedProcessorTypeSummary(); }, "Familie 6, Modell 62, Stepping 4. (Signatur 198372)"},
        {"en", [&] { return info->localizedSMTSupportDescription(); }, "yes"},
        {"de", [&] { return chipless->localizedSMTSupportDescription(); }, "nein"},
        {"en", [&] { return info->localizedL1CacheDescription(); }, "I: 32 KB, D: 64 KB"},
        {"de", [&] { return info->localizedL1CacheDescription(); }, "B: 32 KB, D: 64 KB"},
        // A cache the host does not tell is unknown, not "0  B".
        {"en", [&] { return info->localizedL2CacheDescription(); }, "unknown"},
        {"de", [&] { return info->localizedL3CacheDescription(); }, "unbekannt"},
        {"en", [&] { return chipless->localizedL1CacheDescription(); }, "unknown"},
        {"en", [&] { return info->localizedPhysicalMemoryDescription(); }, "32 GB, optimum free 1.5 GB"},
        {"de", [&] { return info->localizedPhysicalMemoryDescription(); }, "32 GB, optimal frei 1,5 GB"},
        {"en", [&] { return info->localizedAddressableMemoryDescription(); }, "64 TB physical memory, 256 TB virtual memory"},
        {"en", [&] { return info->localizedBaseSystemAndKernelRevisionDescription(); }, "Linux 6.1.0, kernel revision 393472"},
        {"de", [&] { return info->localizedBaseSystemAndKernelRevisionDescription(); }, "Linux 6.1.0, Kernel-Revision 393472"},
        {"en", [&] { return info->localizedProductionDate(); }, "Week after Oct 14, 2018"},
        {"de", [&] { return info->localizedProductionDate(); }, "Woche nach dem 14. Okt. 2018"},
        {"en", [&] { return chipless->localizedProductionDate(); }, "unknown"},
        {"de", [&] { return chipless->localizedProductionDate(); }, "unbekannt"},
    };
    for (const Row& row : rows) {
        use(row.language);
        EXPECT_EQ(row.text(), row.expected) << row.language;
    }
}

TEST(TEVMachineInfoPresentation, ModelAndColourSpecification)
{
    const auto colored = [](int size) {
        QByteArray data(size, '\0');
        if (size > 6) {
            data[4] = 0x10;
            data[5] = 0x20;
            data[6] = 0x30;
        }
        return decoded({{"systemModelCode", "Mac-1,1"}, {"deviceColorData", data}});
    };
    EXPECT_EQ(colored(16)->systemModelCodeWithColorSpecification(), QStringLiteral("Mac-1,1@ECOLOR=48,32,16"));
    EXPECT_EQ(colored(15)->systemModelCodeWithColorSpecification(), QStringLiteral("Mac-1,1"));
    EXPECT_EQ(colored(17)->systemModelCodeWithColorSpecification(), QStringLiteral("Mac-1,1"));
    EXPECT_EQ(decoded({{"systemModelCode", "Mac-1,1"}})->systemModelCodeWithColorSpecification(), QStringLiteral("Mac-1,1"));

    EXPECT_EQ(decoded({{"systemModelCode", "Macmini8,1"}, {"systemMarketingName", ""}})->systemModelPresentationString(),
              QStringLiteral("Macmini8,1"));
    EXPECT_EQ(decoded({{"systemModelCode", "Macmini8,1"}, {"systemMarketingName", "Mac mini (2018)"}})
                  ->systemModelPresentationString(),
              QStringLiteral("Mac mini (2018) (Macmini8,1)"));
    EXPECT_EQ(TEVMachineInfo::alternativeIconFileNameFromDeviceTypeDeclaration(
                  QVariantMap{{"_LSIconPath", "Contents/Resources/com.apple.macmini-2018.icns"}}),
              QStringLiteral("com.apple.macmini-2018.icns"));
    EXPECT_TRUE(TEVMachineInfo::alternativeIconFileNameFromDeviceTypeDeclaration(std::nullopt).isNull());
    EXPECT_TRUE(TEVMachineInfo::alternativeIconFileNameFromDeviceTypeDeclaration(QVariantMap{}).isNull());
}

TEST(TEVMachineInfoPresentation, OperatingSystemTextNamesTheSystemOnce)
{
    QTemporaryDir dir;
    kelvaro::test::writeFile(dir.path() + QStringLiteral("/etc/os-release"), "NAME=\"Debian GNU/Linux\"\n");
    platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(dir.path()));
    EXPECT_EQ(decoded({})->operatingSystemMarketingName(), QStringLiteral("Debian GNU/Linux"));
    EXPECT_EQ(decoded({{"localizedOSVersionString", "Debian GNU/Linux 12 (bookworm)"}})->localizedOperatingSystemPresentationString(),
              QStringLiteral("Debian GNU/Linux 12 (bookworm)"));
    // Another computer's description names its own system, whatever this one runs.
    const struct {
        QVariantMap fields;
        QString expected;
    } remote[] = {
        {{{"localizedOSVersionString", "Version 10.15.7 (Build 19H2)"}}, "macOS Version 10.15.7 (Build 19H2)"},
        {{{"localizedOSVersionString", "Version 10.11.6 (Build 15G31)"}, {"baseOperatingSystemName", "Darwin"}},
         "OS X Version 10.11.6 (Build 15G31)"},
        {{{"localizedOSVersionString", "Version 11.2 (Build 20D64)"}}, "macOS Version 11.2 (Build 20D64)"},
        {{{"localizedOSVersionString", "Fedora Linux 39 (Workstation Edition)"}, {"baseOperatingSystemName", "Linux"}},
         "Fedora Linux 39 (Workstation Edition)"},
    };
    for (const auto& row : remote)
        EXPECT_EQ(decoded(row.fields)->localizedOperatingSystemPresentationString(), row.expected);
    platform::HostRoot::setCurrent(nullptr);
}

TEST(TEVMachineInfoPresentation, DeviceTypeAndPictureAreUnavailableAndWarnOnce)
{
    const auto info = decoded({{"systemModelCode", "Macmini8,1"}});
    // No other test asks for the device type, so this process has not warned yet.
    EXPECT_TRUE(info->deviceTypeCode().isNull());
    EXPECT_TRUE(info->imageDataForMachinePicture().isNull());
    EXPECT_TRUE(info->deviceTypeCode().isNull());
    EXPECT_EQ(kelvaro::test::log().count(
                  QStringLiteral("TEVMachineInfo: WARNING - API to determine device type for model code inaccessible!\n")),
              1);
}

TEST(TEVMachineInfo, VendorAndMainboardSerialComeTrimmedFromTheLocalSMBIOSTable)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("root"));
    const QByteArray table = QByteArray::fromHex("01080100") + QByteArray::fromHex("01020000") + QByteArray("  Apple Inc. \0MacPro6,1\0\0", 25)
        + QByteArray::fromHex("02090200") + QByteArray::fromHex("0102000300")
        + QByteArray("Apple Inc.\0Mac-F60DEB81FF30ACF6\0 C0233450ABCD \n\0\0", 49)
        + QByteArray::fromHex("7f040300") + QByteArray(2, '\0');
    const QVariantList registry = {
        QVariantMap{{"Class", QVariantList{"AppleSMBIOS", "IOService"}}, {"Properties", QVariantMap{{"SMBIOS", table}}}}};
    const auto computer = platform::SimulatedComputer::fromDictionary({{"Registry", registry}}, dir.path());
    ASSERT_TRUE(computer.computer) << qPrintable(computer.error);
    platform::SimulatedComputer::setCurrent(computer.computer);
    const auto local = std::make_shared<TEVMachineInfo>(platform::HostRoot(dir.path() + "/root"), nullptr);
    EXPECT_EQ(local->systemVendor(), QStringLiteral("Apple Inc."));
    EXPECT_EQ(local->mainboardSerialNumber(), QStringLiteral("C0233450ABCD"));
    const auto copy = local->copy();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->systemVendor(), QStringLiteral(""));
    EXPECT_EQ(copy->mainboardSerialNumber(), QStringLiteral(""));
    platform::SimulatedComputer::setCurrent(nullptr);
}
