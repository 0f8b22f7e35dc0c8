// The simulated Macs of fixtures/computers: their SMBIOS tables, DMI files and SMC key tables agree.

#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/EmulatedSmcConnection.h"
#include "sensors/TEVSMBIOSInfo.h"
#include "sensors/TEVSystemManagementController.h"
#include "tests/support/TestEnvironment.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using platform::EmulatedSmcConnection;
using platform::SimulatedComputer;
using platform::SmcConnection;
namespace values = platform::values;

struct Mac {
    const char* folder;
    const char* model;
    quint32 publicKeys; // "Public keys (N)" of its dump
};

const Mac macs[] = {
    {"portable", "MacBookPro11,1", 571},
    {"tower", "MacPro6,1", 770},
    {"server", "MacPro7,1", 1190},
};

std::shared_ptr<const SimulatedComputer> load(const char* folder)
{
    const auto loaded = SimulatedComputer::load(kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/")
                                                                         + QLatin1String(folder)));
    EXPECT_TRUE(loaded.computer) << folder << ": " << loaded.error.toStdString();
    return loaded.computer;
}

QString dmiFile(const SimulatedComputer& computer, const char* name)
{
    return QString::fromLatin1(kelvaro::test::readFile(computer.rootDirectory() + QStringLiteral("/sys/class/dmi/id/")
                                                       + QLatin1String(name)))
        .chopped(1); // the line feed
}

} // namespace

TEST(SimulatedMacs, SmbiosTableAgreesWithDmiFilesAndEntryPoint)
{
    for (const Mac& mac : macs) {
        SCOPED_TRACE(mac.folder);
        const auto computer = load(mac.folder);
        ASSERT_TRUE(computer);
        const QString tables = computer->rootDirectory() + QStringLiteral("/sys/firmware/dmi/tables/");
        const QByteArray table = kelvaro::test::readFile(tables + QStringLiteral("DMI"));
        const QByteArray entry = kelvaro::test::readFile(tables + QStringLiteral("smbios_entry_point"));
        ASSERT_EQ(entry.size(), 24);
        EXPECT_TRUE(entry.startsWith("_SM3_"));
        EXPECT_EQ(qFromLittleEndian<quint32>(entry.constData() + 0x0C), quint32(table.size()));
        int sum = 0;
        for (const char byte : entry)
            sum += quint8(byte);
        EXPECT_EQ(sum % 256, 0);

        const auto info = TEVSMBIOSInfo::createWithData(table);
        ASSERT_TRUE(info);
        EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
        for (const QVariant& structure : info->systemManagementStructures())
            EXPECT_TRUE(structure.toMap().contains(QStringLiteral("Contents")))
                << values::toUnsigned(structure.toMap().value(QStringLiteral("TypeCode"))).value_or(999);
        const auto system = info->recordForSMBIOSTypeCode(1);
        const auto firmware = info->recordForSMBIOSTypeCode(0);
        const auto board = info->recordForSMBIOSTypeCode(2);
        ASSERT_TRUE(system && firmware && board);
        EXPECT_EQ(system->value(QStringLiteral("Manufacturer")).toString(), dmiFile(*computer, "sys_vendor"));
        EXPECT_EQ(system->value(QStringLiteral("Product")).toString(), dmiFile(*computer, "product_name"));
        EXPECT_EQ(system->value(QStringLiteral("Product")).toString(), QLatin1String(mac.model));
        EXPECT_EQ(system->value(QStringLiteral("SerialNumber")).toString(), dmiFile(*computer, "product_serial"));
        EXPECT_FALSE(system->contains(QStringLiteral("SystemSKU"))); // Apple's short type 1
        EXPECT_EQ(board->value(QStringLiteral("Product")).toString(), dmiFile(*computer, "board_name"));
        EXPECT_EQ(firmware->value(QStringLiteral("Version")).toString(), dmiFile(*computer, "bios_version"));
        EXPECT_EQ(firmware->value(QStringLiteral("ReleaseDate")).toString(), dmiFile(*computer, "bios_date"));
        EXPECT_EQ(dmiFile(*computer, "product_serial").size(), 12);
    }
}

TEST(SimulatedMacs, SmcTableHoldsEveryPublicKeyOfItsDumpAndWandersWithinPlausibleRanges)
{
    for (const Mac& mac : macs) {
        SCOPED_TRACE(mac.folder);
        const auto computer = load(mac.folder);
        ASSERT_TRUE(computer);
        auto loaded = EmulatedSmcConnection::fromComputer(*computer);
        ASSERT_TRUE(loaded.connection) << loaded.error.toStdString();
        SmcConnection& smc = *loaded.connection;
        ASSERT_EQ(smc.open(), 0);
        ASSERT_EQ(smc.keyCount().value, mac.publicKeys);

        // Sampled across the longest period (10 minutes), every wandering reading stays plausible.
        const QVariantList keys = computer->smc()->value(QStringLiteral("Keys")).toList();
        int wandering = 0;
        for (int step = 0; step < 24; ++step) {
            for (const QVariant& entry : keys) {
                const QVariantMap fields = entry.toMap();
                if (!fields.contains(QStringLiteral("Wander")))
                    continue;
                ++wandering;
                const QString name = fields.value(QStringLiteral("Key")).toString();
                const quint32 key = SmcConnection::fourCharCode(name);
                const auto bytes = smc.readKey(key).value;
                ASSERT_TRUE(bytes) << name.toStdString();
                _TEVSMCValue value{key, quint32(bytes->size()), smc.keyInfo(key).value->type, {}};
                std::copy_n(bytes->constData(), bytes->size(), value.bytes.begin());
                const double reading = name.startsWith(QLatin1String("ALV"))
                                           ? qFromBigEndian<quint16>(bytes->constData() + 2)
                                           : TEVSystemManagementController::objectValueForSMCValue(&value).toDouble();
                const auto [low, high] = name[0] == 'T'   ? std::pair{10.0, 110.0}
                                         : name[0] == 'V' ? std::pair{0.0, 20.0}
                                         : name[0] == 'F' ? std::pair{0.0, 8000.0}
                                                          : std::pair{0.0, 1e6};
                EXPECT_TRUE(reading > low && reading < high) << name.toStdString() << " " << reading;
            }
            kelvaro::test::clock()->advanceSeconds(25);
        }
        EXPECT_GT(wandering, 0);
    }
}
