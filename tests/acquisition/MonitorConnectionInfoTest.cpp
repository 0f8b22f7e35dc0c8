#include "acquisition/MonitorConnectionInfo.h"

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Values.h"

#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace values = platform::values;
using Info = MonitorConnectionInfo;

namespace {

QVariantMap manual(const QVariant& host, const QVariant& port)
{
    return {{"ConnectionSpecifier", "Manual"}, {"ServiceName", host}, {"ServicePort", port}};
}

std::shared_ptr<Info> viaArchive(const std::shared_ptr<Info>& info)
{
    const QByteArray data = platform::KeyedArchiver::archivedDataWithRootObject(values::fromObject(info));
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("MonitorConnectionInfo")};
    return platform::objectAs<Info>(values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(data, options)));
}

} // namespace

TEST(MonitorConnectionInfo, ReadsOnlySoundPropertyLists)
{
    struct Row {
        const char* what;
        QVariant plist;
        const char* description; // null = no descriptor
    };
    const Row rows[] = {
        {"manual", manual("lab.example", values::fromSigned(8080)), "remote connection to host 'lab.example' port 8080"},
        {"manual unsigned top port", manual("h", values::fromUnsigned(65535)), "remote connection to host 'h' port 65535"},
        {"manual whole real port", manual("h", values::fromReal(22)), "remote connection to host 'h' port 22"},
        {"manual empty host", manual("", values::fromSigned(8080)), nullptr},
        {"manual port as string", manual("h", "8080"), nullptr},
        {"manual port too big", manual("h", values::fromSigned(65536)), nullptr},
        {"manual negative port", manual("h", values::fromSigned(-1)), nullptr},
        {"manual fractional port", manual("h", values::fromReal(80.5)), nullptr},
        {"manual boolean port", manual("h", values::fromBool(true)), nullptr},
        {"manual without port", QVariantMap{{"ConnectionSpecifier", "Manual"}, {"ServiceName", "h"}}, nullptr},
        {"local", QVariantMap{{"ConnectionSpecifier", "Local"}, {"ApplicationName", "Kelvaro"}},
         "<local machine for application 'Kelvaro'>"},
        {"local empty name", QVariantMap{{"ConnectionSpecifier", "Local"}, {"ApplicationName", ""}}, nullptr},
        {"bonjour empty name", QVariantMap{{"ConnectionSpecifier", "Bonjour"}, {"ServiceName", ""}, {"ServiceDomain", "local."}},
         "remote connection to Bonjour service: ._x-tevkelvaro._tcp.local."},
        {"bonjour without domain", QVariantMap{{"ConnectionSpecifier", "Bonjour"}, {"ServiceName", "Lab"}}, nullptr},
        {"unknown specifier", QVariantMap{{"ConnectionSpecifier", "Carrier pigeon"}, {"ServiceName", "h"}}, nullptr},
        {"specifier not a string", QVariantMap{{"ConnectionSpecifier", values::fromSigned(1)}}, nullptr},
        {"not a dictionary", values::fromArray({"Local"}), nullptr},
        {"nil", QVariant(), nullptr},
    };
    for (const Row& row : rows) {
        const auto info = Info::connectionInfoFromPropertyList(row.plist);
        if (!row.description) {
            EXPECT_FALSE(info) << row.what;
            continue;
        }
        ASSERT_TRUE(info) << row.what;
        EXPECT_EQ(info->description(), QString::fromUtf8(row.description)) << row.what;
    }
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(MonitorConnectionInfo, WritesBackTheKeysItRead)
{
    const QVariantMap plists[] = {
        manual("lab.example", values::fromUnsigned(8080)),
        {{"ConnectionSpecifier", "Local"}, {"ApplicationName", "Kelvaro"}},
        {{"ConnectionSpecifier", "Bonjour"}, {"ServiceName", "Lab Mac"}, {"ServiceDomain", "local."}},
    };
    for (const QVariantMap& plist : plists) {
        const auto info = Info::connectionInfoFromPropertyList(plist);
        ASSERT_TRUE(info);
        EXPECT_TRUE(values::strictlyEqual(info->propertyListRepresentation(), plist)) << info->description().toStdString();
        const auto archived = viaArchive(info);
        ASSERT_TRUE(archived) << info->description().toStdString();
        EXPECT_EQ(archived->description(), info->description());
        EXPECT_TRUE(archived->isEqual(*info));
    }
    const auto bonjour = Info::connectionInfoFromPropertyList(plists[2]);
    ASSERT_TRUE(bonjour->netService());
    EXPECT_EQ(bonjour->netService()->type(), Info::remoteMonitoringBonjourServiceType());
    EXPECT_FALSE(bonjour->isLocal());
    EXPECT_TRUE(Info::connectionInfoFromPropertyList(plists[1])->isLocal());
}

TEST(MonitorConnectionInfo, EqualityFollowsTheKind)
{
    const auto lab = Info::createForRemoteConnection(platform::NetService("local.", "_x-tevkelvaro._tcp.", "Lab"));
    const auto labElsewhere = Info::createForRemoteConnection(platform::NetService("example.org.", "_x-tevkelvaro._tcp.", "Lab"));
    const auto labHost = Info::createForRemoteConnection(QStringLiteral("Lab"), 0);
    EXPECT_TRUE(lab->isEqual(*labElsewhere));
    EXPECT_FALSE(lab->isEqual(*labHost));
    EXPECT_FALSE(labHost->isEqual(*lab));
    EXPECT_FALSE(labHost->isEqual(*Info::createForRemoteConnection(QStringLiteral("Lab"), 1)));
    EXPECT_TRUE(labHost->isEqual(*Info::createForRemoteConnection(QStringLiteral("Lab"), 0)));
    EXPECT_FALSE(Info::createForLocalMachine(QStringLiteral("Lab"))->isEqual(*labHost));
    EXPECT_FALSE(lab->isEqual(platform::ObjectRef()));
    EXPECT_FALSE(Info::createForLocalMachine(QString()));
    EXPECT_FALSE(Info::createForRemoteConnection(QString(), 80));
}
