#include "platform/hardware/LinuxSmcConnection.h"

#include "platform/foundation/HostRoot.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using platform::LinuxSmcConnection;
using platform::SmcConnection;
namespace smcresult = platform::smcresult;

namespace {

quint32 code(const char* text)
{
    return SmcConnection::fourCharCode(QString::fromLatin1(text));
}

// The applesmc driver in memory: one selected index shared by every "process", text attributes ending
// with a line feed, data as raw bytes.
class FakeApplesmc final : public platform::SmcSysfs {
public:
    struct Key {
        QByteArray name; // as the driver prints it, possibly trimmed
        QByteArray type;
        QByteArray data;
        int reportedLength = -1; // -1: the data's size
    };

    std::optional<QByteArray> access(const QString& attribute, const std::optional<QByteArray>& write) override
    {
        if (write) {
            if (!writable) {
                errno = EACCES;
                return std::nullopt;
            }
            if (attribute != QLatin1String("key_at_index")) {
                errno = EACCES;
                return std::nullopt;
            }
            selected = write->toInt();
            return write;
        }
        if (attribute == QLatin1String("key_count"))
            return QByteArray::number(keys.size()) + '\n';
        if (attribute == QLatin1String("key_at_index"))
            return QByteArray::number(selected) + '\n';
        if (selected < 0 || selected >= keys.size()) {
            errno = EINVAL;
            return std::nullopt;
        }
        const Key& key = keys[selected];
        if (attribute == QLatin1String("key_at_index_name")) {
            const QByteArray name = key.name + '\n';
            if (onNameRead)
                onNameRead(*this);
            return name;
        }
        if (attribute == QLatin1String("key_at_index_type"))
            return key.type + '\n';
        if (attribute == QLatin1String("key_at_index_data_length"))
            return QByteArray::number(key.reportedLength < 0 ? key.data.size() : key.reportedLength) + '\n';
        if (attribute == QLatin1String("key_at_index_data")) {
            ++dataReads;
            return key.data;
        }
        errno = ENOENT;
        return std::nullopt;
    }

    QList<Key> keys;
    int selected = 0;
    int dataReads = 0; // the reads that ask the SMC itself
    bool writable = true;
    std::function<void(FakeApplesmc&)> onNameRead; // "another process" selecting an index
};

std::shared_ptr<FakeApplesmc> threeKeys()
{
    auto smc = std::make_shared<FakeApplesmc>();
    smc->keys = {{"TC0D", "sp78", QByteArray::fromHex("1a80")},
                 {"AL! ", "ui8", QByteArray::fromHex("07")}, // driver trimmed the type's trailing space
                 {"OSK0", "ch8*", QByteArray(40, 'k')}};
    return smc;
}

} // namespace

TEST(LinuxSmcConnection, ReadsAttributesOfSysfsTreeUnderHostRoot)
{
    QTemporaryDir dir;
    const QString device = dir.path() + QStringLiteral("/sys/devices/platform/applesmc.768/");
    kelvaro::test::writeFile(device + "key_count", "1\n");
    kelvaro::test::writeFile(device + "key_at_index", "0\n");
    kelvaro::test::writeFile(device + "key_at_index_name", "REV \n");
    kelvaro::test::writeFile(device + "key_at_index_type", "{rev\n");
    kelvaro::test::writeFile(device + "key_at_index_data_length", "6\n");
    kelvaro::test::writeFile(device + "key_at_index_data", QByteArray::fromHex("01330f000008"));

    LinuxSmcConnection smc(std::make_shared<platform::HostRootSmcSysfs>(std::make_shared<platform::HostRoot>(dir.path())));
    ASSERT_EQ(smc.open(), 0);
    EXPECT_EQ(smc.keyCount().value, 1u);
    EXPECT_EQ(smc.keyAtIndex(0).value, code("REV "));
    ASSERT_TRUE(smc.keyInfo(code("REV ")).ok());
    EXPECT_EQ(smc.keyInfo(code("REV ")).value->type, code("{rev"));
    EXPECT_EQ(smc.versionText(), QStringLiteral("1.51f8"));
}

TEST(LinuxSmcConnection, OpenReportsMissingDeviceAndMissingPermission)
{
    QTemporaryDir dir;
    LinuxSmcConnection absent(std::make_shared<platform::HostRootSmcSysfs>(std::make_shared<platform::HostRoot>(dir.path())));
    EXPECT_EQ(absent.open(), ENODEV);
    EXPECT_FALSE(absent.isOpen());
    EXPECT_EQ(absent.keyCount().result, smcresult::Error);

    auto smc = threeKeys();
    smc->writable = false;
    LinuxSmcConnection unprivileged(smc);
    EXPECT_EQ(unprivileged.open(), EACCES);
    EXPECT_FALSE(unprivileged.keyAtIndex(0).ok());
}

TEST(LinuxSmcConnection, ReadsKeysByNameKeepingPaddedCodes)
{
    auto smc = threeKeys();
    LinuxSmcConnection connection(smc);
    ASSERT_EQ(connection.open(), 0);
    EXPECT_EQ(connection.keyAtIndex(1).value, code("AL! "));
    EXPECT_EQ(connection.keyAtIndex(3).result, smcresult::KeyNotFound);

    const auto info = connection.keyInfo(code("AL! "));
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info.value->type, code("ui8 "));
    EXPECT_EQ(info.value->size, 1u);
    EXPECT_EQ(connection.readKey(code("TC0D")).value, QByteArray::fromHex("1a80"));
    // "#KEY" is not in this index; the driver's count stands in.
    EXPECT_EQ(connection.readKey(code("#KEY")).value, QByteArray::fromHex("00000003"));
    EXPECT_EQ(connection.readKey(code("TC1D")).result, smcresult::KeyNotFound);

    // A value longer than the answer record reports its size but reads its first 32 bytes.
    EXPECT_EQ(connection.keyInfo(code("OSK0")).value->size, 40u);
    EXPECT_EQ(connection.readKey(code("OSK0")).value, QByteArray(32, 'k'));

    connection.close();
    EXPECT_EQ(connection.readKey(code("TC0D")).result, smcresult::Error);
}

TEST(LinuxSmcConnection, RejectsDataNotMatchingReportedLength)
{
    auto smc = threeKeys();
    smc->keys[0].reportedLength = 4;
    LinuxSmcConnection connection(smc);
    ASSERT_EQ(connection.open(), 0);
    EXPECT_EQ(connection.readKey(code("TC0D")).result, smcresult::Error);
    EXPECT_TRUE(connection.readKey(code("AL! ")).ok());
}

TEST(LinuxSmcConnection, RetriesOnceWhenAnotherProcessSelectsAnIndex)
{
    auto smc = threeKeys();
    LinuxSmcConnection connection(smc);
    ASSERT_EQ(connection.open(), 0);

    int races = 1;
    smc->onNameRead = [&races](FakeApplesmc& driver) {
        if (races > 0 && driver.selected == 0) {
            --races;
            driver.selected = 1;
        }
    };
    EXPECT_EQ(connection.readKey(code("TC0D")).value, QByteArray::fromHex("1a80"));
    EXPECT_EQ(races, 0);

    races = 2;
    EXPECT_EQ(connection.readKey(code("TC0D")).result, smcresult::Error);
    races = 2;
    EXPECT_FALSE(connection.keyAtIndex(0).ok());

    // A key lost to the race while opening reads as missing; the rest of the index is still mapped.
    LinuxSmcConnection reopened(smc);
    races = 2;
    ASSERT_EQ(reopened.open(), 0);
    EXPECT_TRUE(kelvaro::test::log().contains("LinuxSmcConnection: 1 of 3 keys unreadable by index"));
    races = 0;
    EXPECT_EQ(reopened.readKey(code("TC0D")).result, smcresult::KeyNotFound);
    EXPECT_TRUE(reopened.readKey(code("AL! ")).ok());
}

TEST(LinuxSmcConnection, InformationAndBytesOfOneKeyTakeOneReadOfTheSMC)
{
    auto smc = threeKeys();
    LinuxSmcConnection connection(smc);
    ASSERT_EQ(connection.open(), 0);
    smc->keys[0].data = QByteArray::fromHex("1b00"); // the value moved on since the index was mapped
    ASSERT_TRUE(connection.keyInfo(code("TC0D")).ok());
    EXPECT_EQ(connection.readKey(code("TC0D")).value, QByteArray::fromHex("1b00"));
    EXPECT_EQ(smc->dataReads, 1);
    EXPECT_TRUE(connection.readKey(code("TC0D")).ok()); // a later read asks the SMC again
    EXPECT_EQ(smc->dataReads, 2);
    connection.keyInfo(code("TC0D"));
    EXPECT_TRUE(connection.readKey(code("AL! ")).ok()); // so does a read of another key
    EXPECT_EQ(smc->dataReads, 4);
    connection.keyInfo(code("TC0D"));
    connection.close();
    EXPECT_EQ(connection.readKey(code("TC0D")).result, smcresult::Error);
}
