#include "tests/framework/AppBaseFixture.h"

#include "platform/desktop/ApplicationEvents.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

using namespace platform;
namespace kt = kelvaro::test;

namespace {

class OperatingSystemVersion : public AppBaseFixture {};
class ReportLog : public AppBaseFixture {
protected:
    void SetUp() override
    {
        AppBaseFixture::SetUp();
        delegate = std::make_shared<TestApplicationDelegate>();
        delegate->setApplicationName(uniqueName());
        TEVApplicationDelegate::setApplicationDelegate(delegate);
    }
    QString reportPath(const QString& suffix = {}) const
    {
        return Paths::desktopDirectory() + "/" + uniqueName() + "-Report" + suffix + ".txt";
    }
    std::shared_ptr<TestApplicationDelegate> delegate;
};

} // namespace

TEST(NSProcessInfoTEVAdditions, VersionCodesFollowTheDigitFormula)
{
    struct Row {
        const char* version;
        qint64 code;
        const char* marketing;
    };
    const Row rows[] = {{"10.7.5", 0x1075, "Mac OS X"}, {"10.8", 0x1080, "OS X"},   {"10.11.6", 0x10B6, "OS X"},
                        {"10.12", 0x10C0, "macOS"},     {"10.15.7", 0x10F7, "macOS"}, {"11.2.3", 0x1123, "macOS"},
                        {"11", 0x1100, "macOS"},         {"beta", 0x1000, "Mac OS X"}, {"", 0x1000, "Mac OS X"},
                        {"10.16.1", 0x1101, "macOS"}, // minor 16 runs into the next digit
                        {"22.04", 0x2240, "macOS"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version);
        const qint64 code = NSProcessInfoTEVAdditions::versionCodeForVersionString(QString::fromLatin1(row.version));
        EXPECT_EQ(code, row.code);
        EXPECT_EQ(NSProcessInfoTEVAdditions::marketingNameForVersionCode(code), row.marketing);
    }
}

TEST_F(OperatingSystemVersion, OriginalVersionFileFixtureGivesItsNamesAndPoliteForms)
{
    kt::writeFile(root.path() + "/System/Library/CoreServices/SystemVersion.plist",
                  kt::readFile(kt::testDataPath("osversion/SystemVersion-10.11.6.plist")));
    HostRoot::setCurrent(std::make_shared<HostRoot>(root.path()));
    NSProcessInfoTEVAdditions::updateVersionInfo();
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemVersionCode(), 0x10B6);
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemProductName(), "Mac OS X");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemMarketingName(), "OS X");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemVersionNumberString(), "10.11.6");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemBuildCode(), "15G31");
    EXPECT_TRUE(NSProcessInfoTEVAdditions::shouldUIUsePoliteForms());
    useSystemVersion("10.12");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemMarketingName(), "macOS");
    EXPECT_FALSE(NSProcessInfoTEVAdditions::shouldUIUsePoliteForms());
}

TEST_F(OperatingSystemVersion, OsReleaseFixturesGiveTheDistributionWithoutPoliteForms)
{
    HostRoot::setCurrent(std::make_shared<HostRoot>(kt::sourcePath("fixtures/computers/portable/root")));
    NSProcessInfoTEVAdditions::updateVersionInfo();
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemVersionCode(), 0x1200);
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemProductName(), "Debian GNU/Linux");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemMarketingName(), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemVersionNumberString(), "12");
    EXPECT_FALSE(NSProcessInfoTEVAdditions::shouldUIUsePoliteForms());

    useOsRelease("NAME=Ubuntu\nVERSION_ID=\"9\"\nPRETTY_NAME=\"Ubuntu 9\"\n");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemVersionCode(), 0x0900);
    EXPECT_FALSE(NSProcessInfoTEVAdditions::shouldUIUsePoliteForms()) << "below 0x10C0, yet no old release of the original";

    QFile::remove(root.path() + "/etc/os-release");
    NSProcessInfoTEVAdditions::updateVersionInfo();
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemVersionCode(), 0x1000);
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemProductName(), "?");
    EXPECT_EQ(NSProcessInfoTEVAdditions::operatingSystemBuildCode(), "?");
}

TEST(NSProcessInfoTEVAdditions, ProcessNameOfAMissingProcessIsNullAndLeavesTheUserIdAlone)
{
    quint32 uid = 4242;
    EXPECT_TRUE(NSProcessInfoTEVAdditions::processNameForProcessID(0x7ffffff0, &uid).isNull());
    EXPECT_EQ(uid, 4242u);
    EXPECT_FALSE(NSProcessInfoTEVAdditions::processNameForProcessID(getpid(), &uid).isEmpty());
    EXPECT_EQ(uid, geteuid());
}

TEST_F(ReportLog, ActivationFileWinsOnlyWhenItHoldsTheKey)
{
    const QString activation = Paths::desktopDirectory() + "/com.tarnwell.kelvaro.plist";
    kt::writeFile(activation, writePropertyList(QVariantMap{{"Other", true}}, PlistFormat::Xml));
    enableReportLog(startupLogSettings());
    EXPECT_TRUE(TEVSimpleCustomerSiteLogger().isEnabled()) << "file without the key: the user default";

    kt::writeFile(activation, writePropertyList(QVariantMap{{"SCSLEnable", QVariantMap{{"Subsystems", QVariantList{}},
                                                                                       {"Categories", QVariantList{QStringLiteral("net")}}}}},
                                                PlistFormat::Xml));
    {
        TEVSimpleCustomerSiteLogger logger;
        EXPECT_TRUE(logger.isEnabled());
        EXPECT_TRUE(logger.isLoggingActiveForCategory("net"));
        EXPECT_FALSE(logger.isLoggingActiveForSubsystem("Application")) << "the file's value replaces the default's";
        const qint64 tag = logger.beginLoggingForSubsystem("Sensors", "net");
        EXPECT_EQ(tag, 1);
        logger.log(tag, "hello");
    }
    EXPECT_EQ(reportLines(reportPath()), (QStringList{"00001 [Sensors-net]: --- Begin of log Sensors-net ---", "00002 [Sensors-net]: hello"}));
    QFile::remove(activation);
}

TEST_F(ReportLog, MissingCategoriesOrAMalformedEntryLeaveLoggingOff)
{
    enableReportLog({{"Subsystems", QVariantList{QStringLiteral("Application")}}});
    EXPECT_FALSE(TEVSimpleCustomerSiteLogger().isEnabled());
    UserDefaults::standard()->setObject(QStringLiteral("YES"), "SCSLEnable");
    TEVSimpleCustomerSiteLogger logger;
    EXPECT_FALSE(logger.isEnabled());
    EXPECT_EQ(logger.beginLoggingForSubsystem("Application", "startup"), -1);
}

TEST_F(ReportLog, NumberedNameSkipsExistingFilesAndPlantedLinks)
{
    enableReportLog(startupLogSettings());
    kt::writeFile(reportPath(), "keep");
    QTemporaryDir elsewhere;
    kt::writeFile(elsewhere.path() + "/victim", "untouched");
    ASSERT_EQ(::symlink(QFile::encodeName(elsewhere.path() + "/victim").constData(), QFile::encodeName(reportPath(" 1")).constData()), 0);
    TEVSimpleCustomerSiteLogger logger;
    const qint64 tag = logger.beginLoggingForSubsystem("Application", "startup");
    EXPECT_EQ(logger.logFilePath(), reportPath(" 2"));
    logger.log(tag, "line");
    // Flushed per line: readable before anything is closed.
    EXPECT_EQ(reportLines(reportPath(" 2")).size(), 2);
    EXPECT_EQ(kt::readFile(reportPath()), "keep");
    EXPECT_EQ(kt::readFile(elsewhere.path() + "/victim"), "untouched");
}

TEST_F(ReportLog, SameLogTwiceKeepsItsTagAndDisabledFileStillHandsOutTags)
{
    QVariantMap settings = startupLogSettings();
    {
        enableReportLog(settings);
        TEVSimpleCustomerSiteLogger logger;
        EXPECT_EQ(logger.beginLoggingForSubsystem("Application", "startup"), 1);
        EXPECT_EQ(logger.beginLoggingForSubsystem("Application", "startup"), 1);
        EXPECT_EQ(logger.beginLoggingForSubsystem("Application", "other"), 2);
        EXPECT_EQ(logger.beginLoggingForSubsystem("Sensors", "other"), -1);
        EXPECT_EQ(logger.beginLoggingForSubsystem("Application", ""), -1);
    }
    EXPECT_EQ(QString::fromUtf8(kt::readFile(reportPath())).count("Begin of log Application-startup"), 1);

    settings.insert("DisableReportFile", true);
    enableReportLog(settings);
    QFile::remove(reportPath());
    TEVSimpleCustomerSiteLogger logger;
    EXPECT_EQ(logger.beginLoggingForSubsystem("Application", "startup"), 1);
    logger.log(0, "general");
    EXPECT_FALSE(logger.hasLogFile());
    EXPECT_FALSE(QFile::exists(reportPath()));
}

TEST_F(ReportLog, TerminationEndsEveryLogThenWritesTheEofLineAndALaterLineStartsANewReport)
{
    enableReportLog({{"Subsystems", QVariantList{QStringLiteral("Application")}}, {"Categories", QVariantList{}}});
    TEVSimpleCustomerSiteLogger logger;
    const qint64 a = logger.beginLoggingForSubsystem("Application", "startup");
    const qint64 b = logger.beginLoggingForSubsystem("Application", "update");
    logger.log(0, "general line");
    NotificationCenter::defaultCenter().post(ApplicationWillTerminateNotification);
    EXPECT_FALSE(logger.hasLogFile());
    EXPECT_EQ(reportLines(reportPath()),
              (QStringList{"00001 [Application-startup]: --- Begin of log Application-startup ---",
                           "00001 [Application-update]: --- Begin of log Application-update ---", "00001 [General]: general line",
                           "00002 [Application-startup]: --- End of log Application-startup ---",
                           "00002 [Application-update]: --- End of log Application-update ---",
                           "00002 [General]: Application entered termination phase. [2] EOF."}));
    logger.log(a, "dropped: the log has ended");
    logger.log(b + 10, "dropped: never handed out");
    EXPECT_FALSE(logger.hasLogFile());
    logger.log(0, "after the end");
    EXPECT_EQ(logger.logFilePath(), reportPath(" 1"));
}

TEST_F(ReportLog, LineNumbersPast99999GetMoreDigits)
{
    enableReportLog(startupLogSettings());
    TEVSimpleCustomerSiteLogger logger;
    for (int i = 0; i < 100000; ++i)
        logger.log(0, "x");
    const QString path = logger.logFilePath();
    const QStringList lines = reportLines(path);
    ASSERT_EQ(lines.size(), 100000);
    EXPECT_EQ(lines.at(99998), "99999 [General]: x");
    EXPECT_EQ(lines.last(), "100000 [General]: x");
}
