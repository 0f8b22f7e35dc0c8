#include "platform/desktop/UrlDownload.h"

#include "tests/support/DesktopFakes.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;
namespace kt = kelvaro::test;

namespace {

DownloadError::Kind errorKind(const std::variant<QByteArray, DownloadError>& result)
{
    return std::get<DownloadError>(result).kind;
}

} // namespace

TEST(UrlDownload, FetchesFromALocalServerWithinTheCap)
{
    kt::LocalHttpServer server;
    ASSERT_TRUE(server.isListening());
    server.serve("/small", "hello");
    server.serve("/big", QByteArray(5000, 'x'));
    server.serve("/gone", "nope", 500);
    DownloadLimits limits;
    limits.maxBytes = 4096;

    const auto small = UrlDownload::fetch(server.url("/small"), limits);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(small));
    EXPECT_EQ(std::get<QByteArray>(small), "hello");
    EXPECT_EQ(errorKind(UrlDownload::fetch(server.url("/big"), limits)), DownloadError::Kind::TooLarge);
    EXPECT_EQ(errorKind(UrlDownload::fetch(server.url("/gone"), limits)), DownloadError::Kind::Failed);
    EXPECT_EQ(errorKind(UrlDownload::fetch(server.url("/missing"), limits)), DownloadError::Kind::Failed);
}

TEST(UrlDownload, ReadsFileUrlsWithTheSameCapAndRefusesOtherSchemes)
{
    QTemporaryDir dir;
    kt::writeFile(dir.path() + "/info.plist", "abc");
    kt::writeFile(dir.path() + "/huge.plist", QByteArray(100, 'x'));
    DownloadLimits limits;
    limits.maxBytes = 99;
    const auto read = UrlDownload::fetch(QUrl::fromLocalFile(dir.path() + "/info.plist"), limits);
    ASSERT_TRUE(std::holds_alternative<QByteArray>(read));
    EXPECT_EQ(std::get<QByteArray>(read), "abc");
    EXPECT_EQ(errorKind(UrlDownload::fetch(QUrl::fromLocalFile(dir.path() + "/huge.plist"), limits)), DownloadError::Kind::TooLarge);
    EXPECT_EQ(errorKind(UrlDownload::fetch(QUrl::fromLocalFile(dir.path() + "/missing"), limits)), DownloadError::Kind::Failed);
    EXPECT_EQ(errorKind(UrlDownload::fetch(QUrl("ftp://127.0.0.1/x"), limits)), DownloadError::Kind::UnsupportedScheme);
}
