#include "tests/framework/AppBaseFixture.h"

#include "platform/foundation/PropertyList.h"

#include <QTest>

using namespace platform;
namespace kt = kelvaro::test;

namespace {

constexpr int kBoundMs = 10'000;
const QString kInfoPath = QStringLiteral("/ProductRepository/kelvaro.plist");

QVariantMap info(const QString& version = QStringLiteral("2.0"), const QString& minimumOS = QStringLiteral("1000"))
{
    using namespace values;
    return {{"TEVBuildNumber", QStringLiteral("200")},
            {"TEVMinimumOSVersion", minimumOS},
            {"TEVProductCode", fromSigned(7)},
            {"TEVProductName", QStringLiteral("Kelvaro")},
            {"TEVProductURLs", QVariantMap{{"en", QStringLiteral("https://www.tarnwell.com/kelvaro/")}}},
            {"TEVReleaseDate", fromDate(QDateTime(QDate(2026, 2, 1), QTime(0, 0), Qt::UTC))},
            {"TEVVersionNumber", version}};
}

QByteArray plist(const QVariantMap& map)
{
    return writePropertyList(map, PlistFormat::Xml);
}

class SoftwareUpdate : public AppBaseFixture {
protected:
    void SetUp() override
    {
        AppBaseFixture::SetUp();
        ASSERT_TRUE(server.isListening());
        TEVSoftwareUpdateManager::setRepositoryURL(server.url());
        app = std::make_shared<TestApplicationDelegate>();
        TEVApplicationDelegate::setApplicationDelegate(app);
    }

    std::shared_ptr<TEVSoftwareUpdateManager> manager(const QString& appVersion = QStringLiteral("1.0"))
    {
        return std::make_shared<TEVSoftwareUpdateManager>(TEVSoftwareUpdateManager::sourceURLOfUpdateInfoForProductIdentifier("kelvaro"),
                                                          appVersion);
    }

    kt::LocalHttpServer server;
    kt::ScopedDesktopFakes fakes;
    std::shared_ptr<TestApplicationDelegate> app;
};

} // namespace

TEST_F(SoftwareUpdate, VersionsCompareByTheirDottedComponents)
{
    struct Row {
        QString release;
        QString running;
        bool relevant;
    };
    const Row rows[] = {{"6.3", "6.21", false}, {"6.3", "6.3", false}, {"6.10", "6.9", true}, {"7b", "6.9", true},
                        {"1.0", "2.0", false},  {"0.1.1", "0.1.0", true}, {"0.1", "0.1.0", false}, {"0.1.0.1", "0.1", true},
                        {"2.01", "2.1", false}, {"18446744073709551617.0", "18446744073709551616.9", true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.release.toStdString());
        server.serve(kInfoPath, plist(info(row.release)));
        const auto m = manager(row.running);
        m->runCheck();
        EXPECT_TRUE(m->hasPerformedCheck());
        EXPECT_EQ(m->isRelevantUpdateAvailable(), row.relevant);
    }
}

TEST_F(SoftwareUpdate, MinimumOperatingSystemIsAHexadecimalVersionCode)
{
    server.serve(kInfoPath, plist(info("2.0", "10A0")));
    useSystemVersion("10.10");
    auto m = manager();
    m->runCheck();
    EXPECT_EQ(m->minimumOSVersionCode(), 0x10A0);
    EXPECT_TRUE(m->isRelevantUpdateAvailable());
    useSystemVersion("10.9.15");
    m->runCheck();
    EXPECT_TRUE(m->hasPerformedCheck());
    EXPECT_FALSE(m->isRelevantUpdateAvailable());
}

TEST_F(SoftwareUpdate, BadInformationIsNoInformationWithItsReason)
{
    struct Row {
        const char* what;
        QByteArray body;
        const char* logged;
    };
    QVariantMap emptyUrl = info();
    emptyUrl["TEVProductURLs"] = QVariantMap{{"en", QStringLiteral("https://www.tarnwell.com/")}, {"de", QStringLiteral("")}};
    QVariantMap plainHttp = info();
    plainHttp["TEVProductURLs"] = QVariantMap{{"en", QStringLiteral("http://www.tarnwell.com/")}};
    QVariantMap script = info();
    script["TEVProductURLs"] = QVariantMap{{"en", QStringLiteral("file:///usr/bin/xterm")}};
    QVariantMap noBuild = info();
    noBuild.remove("TEVBuildNumber");
    QVariantMap badOS = info("2.0", "ten");
    QVariantMap stringCode = info();
    stringCode["TEVProductCode"] = QStringLiteral("7");
    QVariantMap noDate = info();
    noDate["TEVReleaseDate"] = QStringLiteral("2026-02-01");
    QVariantMap emptyVersion = info("");
    const Row rows[] = {
        {"malformed", "<plist><dict><key>TEVBuildNumber</key>", "received no update info dictionary"},
        {"array", plist(QVariantMap()).replace("<dict/>", "<array/>"), "received no update info dictionary"},
        {"oversized", QByteArray(TEVSoftwareUpdateManager::kMaximumUpdateInfoBytes + 1, ' '), "larger than"},
        {"empty URL", plist(emptyUrl), "error in URL for language 'de'"},
        {"http URL", plist(plainHttp), "error in URL for language 'en'"},
        {"file URL", plist(script), "error in URL for language 'en'"},
        {"no build", plist(noBuild), "build number error"},
        {"bad OS", plist(badOS), "OS version error"},
        {"string code", plist(stringCode), "product SKU error"},
        {"no date", plist(noDate), "release date error"},
        {"empty version", plist(emptyVersion), "version specificier error"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        kt::log().clear();
        server.serve(kInfoPath, row.body);
        const auto m = manager();
        m->runCheck();
        EXPECT_FALSE(m->hasPerformedCheck());
        EXPECT_FALSE(m->updateInfo());
        EXPECT_TRUE(kt::log().contains(QString::fromLatin1(row.logged))) << kt::log().lines().join("").toStdString();
    }
    fakes.alerts->shown.clear();
    const auto m = manager();
    m->runCheck();
    m->runAlertWithResults();
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.alerts->shown.first().messageText, "Could not contact update site");
    EXPECT_FALSE(m->alertForAvailableUpdate());
}

TEST_F(SoftwareUpdate, AlertsTellWhatTheCheckFoundAndConnectOpensThePage)
{
    server.serve(kInfoPath, plist(info("2.0")));
    auto m = manager("1.0");
    m->runCheck();
    fakes.alerts->answers = {0};
    m->runAlertWithResults();
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    const Alert& alert = fakes.alerts->shown.first();
    EXPECT_EQ(alert.messageText, "A new version is available");
    EXPECT_TRUE(alert.informativeText.startsWith("The software package Kelvaro, version 2.0 (Build 200), is available since "));
    EXPECT_EQ(alert.buttons, (QStringList{"Connect", "Cancel"}));
    EXPECT_EQ(fakes.workspace->openedURLs, QList<QUrl>{QUrl("https://www.tarnwell.com/kelvaro/")});

    m = manager("3.0");
    m->runCheck();
    m->runAlertWithResults();
    EXPECT_EQ(fakes.alerts->shown.last().messageText, "This software product is up-to-date");
    EXPECT_EQ(fakes.workspace->openedURLs.size(), 1);
}

TEST_F(SoftwareUpdate, FileRepositoryWorksLikeTheServer)
{
    QTemporaryDir repository;
    kt::writeFile(repository.path() + kInfoPath, plist(info("2.0")));
    TEVSoftwareUpdateManager::setRepositoryURL(QUrl::fromLocalFile(repository.path()));
    const auto m = manager();
    m->runCheck();
    EXPECT_TRUE(m->isRelevantUpdateAvailable());
    EXPECT_EQ(m->productCode(), 7u);
    EXPECT_EQ(m->userNotificationIdentifierForAutomaticUpdates(), "TEVSoftwareUpdate-7");
}

TEST_F(SoftwareUpdate, ASecondCheckDoesNotStartWhileOneRuns)
{
    server.serve(kInfoPath, plist(info("2.0")));
    const auto m = manager();
    int inner = 0;
    server.onRequest = [&](const QString&) {
        ++inner;
        m->runCheck(); // the download waits in a nested loop; this arrives meanwhile
    };
    m->runCheck();
    EXPECT_EQ(inner, 1);
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_TRUE(kt::log().contains("TEVSoftwareUpdateManager: a check is already running\n"));
    EXPECT_TRUE(m->isRelevantUpdateAvailable());
}

TEST_F(SoftwareUpdate, ManualCheckDuringTheAutomaticOneShowsThatChecksResult)
{
    TEVSoftwareUpdateManager::setUserPrefersAutomaticUpdateCheck(true);
    server.serve(kInfoPath, plist(info("2.0")));
    std::shared_ptr<TEVSoftwareUpdateManager> m;
    server.onRequest = [&](const QString&) {
        // The user asks while the launch-time check waits for its answer.
        m->runCheck();
        m->runAlertWithResults();
        EXPECT_TRUE(fakes.alerts->shown.isEmpty());
    };
    m = TEVSoftwareUpdateManager::create("kelvaro");
    ASSERT_TRUE(m);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fakes.alerts->shown.isEmpty(); }, kBoundMs));
    QTest::qWait(0);
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.alerts->shown.first().messageText, "A new version is available");
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(SoftwareUpdate, UrlAndPeriodSettings)
{
    EXPECT_TRUE(TEVSoftwareUpdateManager::sourceURLOfUpdateInfoForProductIdentifier("").isEmpty());
    EXPECT_TRUE(TEVSoftwareUpdateManager::sourceURLOfUpdateInfoForProductIdentifier("a b/../c").toEncoded().endsWith(
        "/ProductRepository/a%20b%2F..%2Fc.plist"));
    TEVSoftwareUpdateManager::setRepositoryURL({});
    EXPECT_EQ(TEVSoftwareUpdateManager::sourceURLOfUpdateInfoForProductIdentifier("kelvaro").scheme(), "https");
    TEVSoftwareUpdateManager::setMinimumPeriodForAutomaticUpdateCheck(3600);
    TEVSoftwareUpdateManager::setMinimumPeriodForAutomaticUpdateCheck(0.5);
    TEVSoftwareUpdateManager::setMinimumPeriodForAutomaticUpdateCheck(std::nan(""));
    EXPECT_EQ(TEVSoftwareUpdateManager::minimumPeriodForAutomaticUpdateCheck(), 3600);
    EXPECT_FALSE(TEVSoftwareUpdateManager::create(""));
    EXPECT_TRUE(kt::log().contains("TEVSoftwareUpdateManager: could not generate URL for identifier ''\n"));
}

TEST_F(SoftwareUpdate, AutomaticCheckRunsOncePerPeriodOnTheClockAndNotifiesOnce)
{
    if (!kt::haveSessionBus())
        GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    kt::FakeNotificationService service;
    ASSERT_TRUE(service.isRegistered());
    UserNotificationCenter center(QStringLiteral("Kelvaro"), service.serviceName());
    UserNotificationCenter::setDefaultCenter(&center);
    center.setDelegate(app);
    server.serve(kInfoPath, plist(info("2.0")));
    const auto defaults = UserDefaults::standard();
    TEVSoftwareUpdateManager::setUserPrefersAutomaticUpdateCheck(true);
    const QString performing = QStringLiteral("Performing automatic software update check.\n");

    // Exactly one period after the last check: due.
    defaults->setObject(values::fromDate(kt::clock()->now().addSecs(-86400)), "AutoUpdateCheckTimeStamp");
    auto m = TEVSoftwareUpdateManager::create("kelvaro");
    ASSERT_TRUE(m);
    EXPECT_EQ(kt::log().count(performing), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.notifies.size() == 1; }, kBoundMs));
    EXPECT_EQ(values::toDate(defaults->objectForKey("AutoUpdateCheckTimeStamp")), std::optional<QDateTime>(kt::clock()->now()));
    EXPECT_EQ(service.notifies.first().summary, "Update available");
    EXPECT_EQ(service.notifies.first().body, "Version 2.0\nClick to open web page.");

    kt::clock()->advanceSeconds(86399);
    m = TEVSoftwareUpdateManager::create("kelvaro");
    EXPECT_EQ(kt::log().count(performing), 1) << "one second short of a day";
    kt::clock()->advanceSeconds(1);
    m = TEVSoftwareUpdateManager::create("kelvaro");
    EXPECT_EQ(kt::log().count(performing), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.notifies.size() == 2; }, kBoundMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.closed.size() == 1; }, kBoundMs));
    EXPECT_EQ(service.closed.first(), service.notifies.first().id) << "the earlier notification of the identifier goes";
    EXPECT_EQ(center.deliveredNotifications().size(), 1);

    // Clicking it opens the page through the application base's multiplexing, even after a later check failed.
    server.serve(kInfoPath, "not a plist");
    m->runCheck();
    ASSERT_FALSE(m->hasPerformedCheck());
    service.emitActionInvoked(service.notifies.last().id, "action");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fakes.workspace->openedURLs.isEmpty(); }, kBoundMs));
    EXPECT_EQ(fakes.workspace->openedURLs.first(), QUrl("https://www.tarnwell.com/kelvaro/"));
}

TEST_F(SoftwareUpdate, FailedAutomaticCheckStoresNoTimeStamp)
{
    TEVSoftwareUpdateManager::setUserPrefersAutomaticUpdateCheck(true);
    server.serve(kInfoPath, "not a plist");
    const auto m = TEVSoftwareUpdateManager::create("kelvaro");
    ASSERT_TRUE(m);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount() == 1 && !m->isCheckRunning(); }, kBoundMs));
    QTest::qWait(0);
    EXPECT_FALSE(UserDefaults::standard()->objectForKey("AutoUpdateCheckTimeStamp").isValid());
}
