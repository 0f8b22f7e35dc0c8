#include "framework/TEVIPv4Address.h"
#include "framework/TEVIPv6Address.h"

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"
#include "platform/net/NameResolver.h"
#include "tests/support/FakeNameResolver.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

namespace {

struct ParseRow {
    const char* text;
    const char* expected; // dotted text, or nullptr for rejected
};

// Accepted dotted quads agree with Python's ipaddress; the short and based forms with inet_aton, except
// that nothing may follow the address (inet_aton takes "1.2.3.4 junk").
TEST(TEVIPv4Address, ParsesClassicSyntaxAndRejectsTrailingJunk)
{
    const ParseRow rows[] = {
        {"127.0.0.1", "127.0.0.1"},     {"255.255.255.255", "255.255.255.255"}, {"10.1", "10.0.0.1"},
        {"0x0a000001", "10.0.0.1"},     {"167772161", "10.0.0.1"},             {"010.0.0.1", "8.0.0.1"},
        {"1.16777215", "1.255.255.255"}, {"1.2.65535", "1.2.255.255"},
        {"", nullptr},                  {"::1", nullptr},                      {"1.2.3.4 junk", nullptr},
        {"1.2.3.4 ", nullptr},          {"1.2.3.4junk", nullptr},              {" 1.2.3.4", nullptr},
        {"0x", nullptr},                {"1..2", nullptr},                     {"1.2.3.4.", nullptr},
        {"08.1.1.1", nullptr},          {"256.1.1.1", nullptr},                {"1.2.3.4.5", nullptr},
        {"4294967296", nullptr},        {"1.16777216", nullptr},               {"+1.2.3.4", nullptr},
        {"99999999999999999999", nullptr},
    };
    for (const ParseRow& row : rows) {
        SCOPED_TRACE(row.text);
        const auto address = TEVIPv4Address::createWithString(QString::fromLatin1(row.text));
        EXPECT_EQ(TEVIPv4Address::isValidAddress(QString::fromLatin1(row.text)), row.expected != nullptr);
        if (row.expected)
            EXPECT_EQ(address ? address->string() : QString(), QString::fromLatin1(row.expected));
        else
            EXPECT_FALSE(address);
    }
}

TEST(TEVIPv4Address, NetMasksAndDefaultMasksFollowTheAddressClasses)
{
    EXPECT_TRUE(TEVIPv4Address::isValidNetMask(QStringLiteral("255.255.255.0")));
    EXPECT_TRUE(TEVIPv4Address::isValidNetMask(QStringLiteral("0.0.0.0")));
    EXPECT_TRUE(TEVIPv4Address::isValidNetMask(QStringLiteral("255.255.255.255")));
    EXPECT_FALSE(TEVIPv4Address::isValidNetMask(QStringLiteral("255.0.255.0")));
    EXPECT_FALSE(TEVIPv4Address::isValidNetMask(QStringLiteral("0.0.0.1")));
    EXPECT_FALSE(TEVIPv4Address::isValidNetMask(QStringLiteral("mask")));

    const std::pair<const char*, const char*> rows[] = {
        {"10.1.2.3", "255.0.0.0"}, {"172.16.0.1", "255.255.0.0"}, {"192.168.1.1", "255.255.255.0"},
        {"224.0.0.1", nullptr},   {"junk", nullptr},
    };
    for (const auto& [address, mask] : rows) {
        SCOPED_TRACE(address);
        const auto result = TEVIPv4Address::defaultNetMaskForAddress(QString::fromLatin1(address));
        EXPECT_EQ(result ? result->string() : QString(), mask ? QString::fromLatin1(mask) : QString());
    }
}

TEST(TEVIPv4Address, NetworkNumbersBecomeClassBasedNetworkAddresses)
{
    const ParseRow rows[] = {
        {"10", "10.0.0.0"},          {"172.16", "172.16.0.0"}, {"192.168.1", "192.168.1.0"},
        {"10.1.2.3", "10.1.2.3"},    {"0", "0.0.0.0"},         {"255.255.255.255", nullptr},
        {"4000", nullptr},           {"10 junk", nullptr},     {"", nullptr},
    };
    for (const ParseRow& row : rows) {
        SCOPED_TRACE(row.text);
        const auto address = TEVIPv4Address::createAsNetworkAddressWithString(QString::fromLatin1(row.text));
        EXPECT_EQ(address ? address->string() : QString(), row.expected ? QString::fromLatin1(row.expected) : QString());
    }
}

TEST(TEVIPv4Address, KnownNetworkNamesGiveTheNetworkAddressForShortEntries)
{
    kelvaro::test::FakeNameResolver::Answers answers;
    answers.networks = {{QStringLiteral("loopnet"), 127u}, {QStringLiteral("linklocal"), 0xA9FEu},
                        {QStringLiteral("full"), 0x7F000000u}};
    platform::NameResolver::setShared(std::make_shared<kelvaro::test::FakeNameResolver>(answers));
    const auto text = [](const char* name) {
        const auto address = TEVIPv4Address::networkAddressWithKnownName(QString::fromLatin1(name));
        return address ? address->string() : QString();
    };
    EXPECT_EQ(text("loopnet"), QStringLiteral("127.0.0.0"));
    EXPECT_EQ(text("linklocal"), QStringLiteral("169.254.0.0"));
    EXPECT_EQ(text("full"), QStringLiteral("127.0.0.0"));
    EXPECT_EQ(text("unknown"), QString());
    EXPECT_EQ(text(""), QString());
    platform::NameResolver::setShared(nullptr);
}

TEST(TEVIPv4Address, ArchivesFirstByteAsLowestByteAndReadsBackEqual)
{
    const auto address = TEVIPv4Address::createWithString(QStringLiteral("10.0.0.1"));
    ASSERT_TRUE(address);
    const QByteArray data = platform::KeyedArchiver::archivedDataWithRootObject(platform::values::fromObject(address));

    // The stored integer: lowest byte 10, highest byte 1.
    const platform::PlistReadResult plist = platform::readPropertyList(data);
    ASSERT_TRUE(plist.value.isValid()) << plist.error.toStdString();
    const QVariantList objects =
        platform::values::toArray(platform::values::toDictionary(plist.value).value_or(QVariantMap()).value(QStringLiteral("$objects"))).value_or(QVariantList());
    bool found = false;
    for (const QVariant& object : objects) {
        const auto dict = platform::values::toDictionary(object);
        if (dict && dict->contains(QStringLiteral("Address"))) {
            EXPECT_EQ(platform::values::toSigned(dict->value(QStringLiteral("Address"))), qint64(0x0100000A));
            found = true;
        }
    }
    EXPECT_TRUE(found);

    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVIPv4Address"), QStringLiteral("TEVIPv6Address")};
    const auto back = platform::objectAs<TEVIPv4Address>(
        platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(data, options)));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(address.get()));

    // High first bytes make the 32-bit integer negative; they must survive too.
    const auto high = TEVIPv4Address::createWithString(QStringLiteral("1.2.3.200"));
    const auto highBack = platform::objectAs<TEVIPv4Address>(platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(
        platform::KeyedArchiver::archivedDataWithRootObject(platform::values::fromObject(high)), options)));
    ASSERT_TRUE(highBack);
    EXPECT_EQ(highBack->string(), QStringLiteral("1.2.3.200"));
}

TEST(TEVIPv6Address, ParsesAndPrintsStandardForms)
{
    // Outputs agree with Python's ipaddress compressed form, except that the platform prints mapped IPv4
    // addresses in dotted form (Python: "::ffff:c000:201") and takes no scope suffix.
    const ParseRow rows[] = {
        {"::1", "::1"},
        {"::", "::"},
        {"1:0:0:0:0:0:0:1", "1::1"},
        {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
        {"2001:0db8::0001", "2001:db8::1"},
        {"1:0:1:1:1:1:1:1", "1:0:1:1:1:1:1:1"},
        {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
        {"127.0.0.1", nullptr},
        {"", nullptr},
        {"::1 ", nullptr},
        {"fe80::1%eth0", nullptr},
        {"2001:db8::1::2", nullptr},
        {"12345::", nullptr},
        {"1:2:3:4:5:6:7:8:9", nullptr},
        {":::", nullptr},
    };
    for (const ParseRow& row : rows) {
        SCOPED_TRACE(row.text);
        const auto address = TEVIPv6Address::createWithString(QString::fromLatin1(row.text));
        EXPECT_EQ(TEVIPv6Address::isValidAddress(QString::fromLatin1(row.text)), row.expected != nullptr);
        EXPECT_EQ(address ? address->string() : QString(), row.expected ? QString::fromLatin1(row.expected) : QString());
    }
    EXPECT_FALSE(TEVIPv6Address::isValidAddress(QStringLiteral("::1") + QChar(0) + QStringLiteral("junk")));
}

TEST(TEVIPv6Address, ArchivesFourLittleEndianWordsAndReadsMissingKeysAsZero)
{
    const auto address = TEVIPv6Address::createWithString(QStringLiteral("2001:db8::1"));
    ASSERT_TRUE(address);
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVIPv6Address")};
    const QByteArray data = platform::KeyedArchiver::archivedDataWithRootObject(platform::values::fromObject(address));
    const auto back = platform::objectAs<TEVIPv6Address>(platform::values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(data, options)));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->isEqual(address.get()));
    EXPECT_TRUE(data.contains("Address32-0"));
}

TEST(TEVIPAddress, CopiesAreEqualAndFamiliesNeverAre)
{
    const auto v4 = TEVIPv4Address::createWithString(QStringLiteral("0.0.0.0"));
    const auto v6 = TEVIPv6Address::createWithString(QStringLiteral("::"));
    EXPECT_TRUE(v4->copy()->isEqual(v4.get()));
    EXPECT_TRUE(v6->copy()->isEqual(v6.get()));
    EXPECT_FALSE(v4->isEqual(v6.get()));
    EXPECT_FALSE(v6->isEqual(v4.get()));
    EXPECT_FALSE(v4->isEqual(nullptr));
}

TEST(TEVIPAddress, SocketAddressesRoundTripAndCheckTheFamily)
{
    const auto v4 = TEVIPv4Address::createWithString(QStringLiteral("192.0.2.7"));
    const sockaddr_in in = v4->socketAddress();
    EXPECT_EQ(sizeof in, 16u);
    EXPECT_EQ(in.sin_family, AF_INET);
    EXPECT_EQ(in.sin_port, 0);
    EXPECT_TRUE(TEVIPv4Address::createWithSocketAddress(reinterpret_cast<const sockaddr*>(&in))->isEqual(v4.get()));
    EXPECT_FALSE(TEVIPv6Address::createWithSocketAddress(reinterpret_cast<const sockaddr*>(&in)));
    EXPECT_EQ(v4->rawAddressInHostByteOrder(), 0xC0000207u);

    const auto v6 = TEVIPv6Address::createWithString(QStringLiteral("2001:db8::7"));
    const sockaddr_in6 in6 = v6->socketAddress();
    EXPECT_EQ(sizeof in6, 28u);
    EXPECT_TRUE(TEVIPv6Address::createWithSocketAddress(reinterpret_cast<const sockaddr*>(&in6))->isEqual(v6.get()));
    EXPECT_FALSE(TEVIPv4Address::createWithSocketAddress(reinterpret_cast<const sockaddr*>(&in6)));
    EXPECT_FALSE(TEVIPv4Address::createWithSocketAddress(nullptr));
}

} // namespace

TEST(TEVIPAddress, ATypedstreamNamingAnAddressClassDecodesToNil)
{
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVIPv4Address"), QStringLiteral("TEVIPv6Address")};
    const QByteArray v4 = kelvaro::test::readFile(kelvaro::test::testDataPath(QStringLiteral("hostile/typedstream-ipv4-address.typedstream")));
    QByteArray v6 = v4;
    v6.replace("TEVIPv4Address", "TEVIPv6Address");
    for (const QByteArray& data : {v4, v6}) {
        kelvaro::test::log().clear();
        EXPECT_FALSE(platform::SequentialUnarchiver::unarchiveObjectWithData(data, options).isValid());
        EXPECT_EQ(kelvaro::test::log().count(QStringLiteral("needs a keyed coder")), 1);
    }
}
