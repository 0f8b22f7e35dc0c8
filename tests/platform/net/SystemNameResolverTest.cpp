#include "platform/net/SystemNameResolver.h"

#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using platform::SystemNameResolver;

const QByteArray kRouteHeader = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(SystemNameResolver, DefaultRouteIsTheLiveRouteOfLowestMetric)
{
    const struct {
        const char* what;
        QByteArray table;
        const char* expected;
    } rows[] = {
        {"one default", kRouteHeader + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                                       "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n", "eth0"},
        {"lower metric wins", kRouteHeader + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                                             "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n", "eth0"},
        {"down route", kRouteHeader + "eth0\t00000000\t0102A8C0\t0002\t0\t0\t100\t00000000\t0\t0\t0\n", nullptr},
        {"no default", kRouteHeader + "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n", nullptr},
        {"header only", kRouteHeader, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(SystemNameResolver::defaultRouteInterface(row.table).value_or(QString()),
                  row.expected ? QString::fromLatin1(row.expected) : QString());
    }
}

TEST(SystemNameResolver, IPv6DefaultRouteSkipsRejectRoutesAndLoopback)
{
    const QByteArray any(32, '0');
    // The kernel lists unreachable defaults on lo with RTF_REJECT; those route nowhere.
    const QByteArray table = any + " 00 " + any + " 00 " + any + " ffffffff 00000001 00000000 00200200       lo\n"
                           + "fe800000000000000000000000000000 40 " + any + " 00 " + any + " 00000100 00000001 00000000 00000001     eth0\n"
                           + any + " 00 " + any + " 00 fe800000000000000000000000000001 00000400 00000001 00000000 00450003    wlan0\n"
                           + any + " 00 " + any + " 00 fe800000000000000000000000000001 00000064 00000001 00000000 00450003     eth0\n";
    EXPECT_EQ(SystemNameResolver::defaultRouteInterfaceIPv6(table), QStringLiteral("eth0"));
    EXPECT_FALSE(SystemNameResolver::defaultRouteInterfaceIPv6(any + " 00 " + any + " 00 " + any + " ffffffff 00000001 00000000 00200200 lo\n"));
}

TEST(SystemNameResolver, PrimaryAddressIsTheDefaultInterfacesRoutableAddress)
{
    QTemporaryDir root;
    kelvaro::test::writeFile(root.filePath(QStringLiteral("proc/net/route")),
                             kRouteHeader + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n");
    const QByteArray any(32, '0');
    kelvaro::test::writeFile(root.filePath(QStringLiteral("proc/net/ipv6_route")),
                             any + " 00 " + any + " 00 fe800000000000000000000000000001 00000064 00000001 00000000 00450003 eth0\n");
    const SystemNameResolver::InterfaceLister interfaces = [] {
        return QList<SystemNameResolver::InterfaceAddress>{
            {QStringLiteral("lo"), false, QStringLiteral("127.0.0.1"), true, false},
            {QStringLiteral("wlan0"), false, QStringLiteral("10.0.0.5"), false, false},
            {QStringLiteral("eth0"), true, QStringLiteral("fe80::5"), false, true},
            {QStringLiteral("eth0"), false, QStringLiteral("192.168.2.5"), false, false},
            {QStringLiteral("eth0"), true, QStringLiteral("2001:db8::5"), false, false},
        };
    };
    SystemNameResolver resolver(std::make_shared<platform::HostRoot>(root.path()), interfaces, [] { return std::optional<QString>(); });
    EXPECT_EQ(resolver.primaryAddress(false), QStringLiteral("192.168.2.5"));
    EXPECT_EQ(resolver.primaryAddress(true), QStringLiteral("2001:db8::5"));

    SystemNameResolver bare(std::make_shared<platform::HostRoot>(root.path() + QStringLiteral("/none")), interfaces,
                            [] { return std::optional<QString>(); });
    EXPECT_FALSE(bare.primaryAddress(false));
}

TEST(SystemNameResolver, MulticastNameFallsBackToTheHostNamesFirstLabel)
{
    SystemNameResolver withDaemon({}, [] { return QList<SystemNameResolver::InterfaceAddress>{}; },
                                  [] { return std::optional<QString>(QStringLiteral("lab-2")); });
    EXPECT_EQ(withDaemon.localMulticastHostName(), QStringLiteral("lab-2"));

    SystemNameResolver withoutDaemon({}, [] { return QList<SystemNameResolver::InterfaceAddress>{}; },
                                     [] { return std::optional<QString>(); });
    const QString hostName = withoutDaemon.hostName().value_or(QString());
    EXPECT_EQ(withoutDaemon.localMulticastHostName(), hostName.section(QLatin1Char('.'), 0, 0));
    EXPECT_FALSE(withoutDaemon.localMulticastHostName().contains(QLatin1Char('.')));
}

TEST(SystemNameResolver, NonNumericTextIsNoAddress)
{
    SystemNameResolver resolver({}, [] { return QList<SystemNameResolver::InterfaceAddress>{}; }, [] { return std::optional<QString>(); });
    EXPECT_FALSE(resolver.hostByAddress(QStringLiteral("not an address")));
    EXPECT_FALSE(resolver.nameForAddress(QString()));
    EXPECT_FALSE(resolver.networkNumber(QString()));
}

TEST(NameResolver, RecognisesLoopbackAliases)
{
    for (const char* name : {"localhost", "LOCALHOST", "localhost.", "ip6-localhost", "ip6-loopback", "localhost.localdomain",
                             "localhost6.localdomain6", "printer.localhost"}) {
        EXPECT_TRUE(platform::NameResolver::isLoopbackName(QString::fromLatin1(name))) << name;
    }
    for (const char* name : {"lab", "localhostess", "lab.local", "mylocalhost", ""})
        EXPECT_FALSE(platform::NameResolver::isLoopbackName(QString::fromLatin1(name))) << name;
}

} // namespace
