#include "tests/framework/AppBaseFixture.h"

#include "framework/TEVStringFormat.h"
#include "platform/foundation/PropertyList.h"

#include <QDir>
#include <QFile>

#include <clocale>
#include <string>

#include <unistd.h>

using namespace platform;
namespace kt = kelvaro::test;

namespace {

class ApplicationBase : public AppBaseFixture {};

std::shared_ptr<TestApplicationDelegate> makeDelegate(const QString& name, const QString& repository = QStringLiteral("kelvaro"))
{
    auto delegate = std::make_shared<TestApplicationDelegate>();
    delegate->setInternationalApplicationName(name, 7, 0x610, QStringLiteral("Feedback%20Kelvaro"), repository);
    TEVApplicationDelegate::setApplicationDelegate(delegate);
    return delegate;
}

// A bundle folder with an Info.plist and string tables (table name -> {key: text}).
std::shared_ptr<const Bundle> makeBundle(const QString& dir, const QVariantMap& info, const QMap<QString, QVariantMap>& tables)
{
    kt::writeFile(dir + "/Info.plist", writePropertyList(info, PlistFormat::Xml));
    for (auto it = tables.begin(); it != tables.end(); ++it)
        kt::writeFile(dir + "/en.lproj/" + it.key() + ".strings", writePropertyList(it.value(), PlistFormat::Xml));
    return Bundle::fromDirectory(dir);
}

} // namespace

TEST_F(ApplicationBase, StartupRunsItsStepsInOrderIntoTheReportOnTheDesktop)
{
    enableReportLog(startupLogSettings());
    kt::ScopedDesktopFakes fakes;
    const auto delegate = makeDelegate(uniqueName(), QString());
    delegate->setupApplicationSupport();

    EXPECT_EQ(delegate->startLog(), 1);
    EXPECT_EQ(delegate->updateManager(), nullptr);
    EXPECT_TRUE(kt::log().contains("TEVSoftwareUpdateManager: could not generate URL for identifier ''\n"));
    EXPECT_TRUE(fakes.alerts->shown.isEmpty());
    const QString report = Paths::desktopDirectory() + "/" + uniqueName() + "-Report.txt";
    ASSERT_TRUE(QFile::exists(report));
    const QString id = QStringLiteral("[Application-startup]: ");
    EXPECT_EQ(reportLines(report),
              (QStringList{"00001 " + id + "--- Begin of log Application-startup ---",
                           "00002 " + id + "Launching '" + uniqueName() + "' with personality 7-0x610 OS limiter 0x0, identifier com.tarnwell.kelvaro, on 0x1200.",
                           "00003 " + id + "First stage of startup passed successfully.",
                           "00004 " + id + "Update management setup completed.",
                           "00005 " + id + "Application setup completed."}));
    const QString stamp = QString::fromUtf8(kt::readFile(report)).left(19);
    EXPECT_EQ(stamp, kt::clock()->now().toLocalTime().toString("yyyy-MM-dd'T'HH:mm:ss"));
}

TEST_F(ApplicationBase, OperatingSystemLimitRefusesFromTheLimitOnward)
{
    struct Row {
        QString version;
        quint64 limit;
        bool refused;
    };
    const Row rows[] = {{"10.15", 0, false}, {"10.15", 0x10F0, true}, {"10.16", 0x10F0, true}, {"10.14.5", 0x10F0, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version.toStdString());
        useSystemVersion(row.version);
        kt::ScopedDesktopFakes fakes;
        fakes.alerts->answers = {0};
        const auto delegate = makeDelegate(uniqueName());
        delegate->setMaximumOSVersionCode(row.limit);
        delegate->setupApplicationSupport();
        EXPECT_EQ(delegate->terminations, row.refused ? 1 : 0);
        ASSERT_EQ(fakes.alerts->shown.size(), row.refused ? 1 : 0);
        if (row.refused) {
            const Alert& alert = fakes.alerts->shown.first();
            EXPECT_EQ(alert.style, Alert::Style::Critical);
            EXPECT_EQ(alert.messageText, "Unknown operating system version");
            EXPECT_EQ(alert.buttons, (QStringList{"Open web page", "Cancel"}));
            EXPECT_TRUE(alert.informativeText.startsWith("You are using macOS Version " + row.version + " (Build 15G31). "));
            EXPECT_TRUE(alert.informativeText.endsWith("\n\nThis is " + uniqueName() + " Version 0.1.0 (Build 1)."));
            EXPECT_EQ(delegate->updateManager(), nullptr) << "the set-up stops";
        }
        TEVSimpleCustomerSiteLogger::resetSharedLogger();
    }
}

TEST_F(ApplicationBase, WithoutShortVersionThereIsNoPresentedVersionAndNoThisIsLine)
{
    QTemporaryDir dir;
    Bundle::setMain(makeBundle(dir.path(), {{"CFBundleIdentifier", QStringLiteral("com.tarnwell.kelvaro")}}, {}));
    useSystemVersion("10.15");
    kt::ScopedDesktopFakes fakes;
    const auto delegate = makeDelegate(uniqueName());
    EXPECT_TRUE(delegate->presentedVersion().isNull());
    delegate->setMaximumOSVersionCode(0x10F0);
    delegate->setupApplicationSupport();
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_FALSE(fakes.alerts->shown.first().informativeText.contains("This is"));
    EXPECT_TRUE(fakes.alerts->shown.first().informativeText.endsWith("with the button below."));
}

TEST_F(ApplicationBase, PoliteTablesAreUsedOnlyWhenTheSystemAsksAndTheTableExists)
{
    QTemporaryDir dir;
    Bundle::setMain(makeBundle(dir.path(), {{"CFBundleIdentifier", QStringLiteral("com.tarnwell.kelvaro")}},
                               {{"Localizable", {{"Hello", QStringLiteral("hi")}}},
                                {"Localizable-Polite", {{"Hello", QStringLiteral("good day")}}},
                                {"TEVApplicationSupport", {{"Hello", QStringLiteral("hi there")}}}}));
    const auto delegate = makeDelegate(uniqueName());
    useOsRelease();
    EXPECT_FALSE(NSProcessInfoTEVAdditions::shouldUIUsePoliteForms());
    EXPECT_EQ(delegate->localizedUIPolitenessAgnosticStringForKey("Hello"), "hi");

    useSystemVersion("10.11.6");
    ASSERT_TRUE(NSProcessInfoTEVAdditions::shouldUIUsePoliteForms());
    EXPECT_EQ(delegate->localizedUIPolitenessAgnosticStringForKey("Hello"), "good day");
    EXPECT_EQ(delegate->localizedUIPolitenessAgnosticStringForKey("Hello", {}, "TEVApplicationSupport"), "hi there")
        << "no polite table: the named one, not Localizable";
    EXPECT_EQ(delegate->localizedUIPolitenessAgnosticStringForKey("Missing", "fallback"), "fallback");
}

TEST_F(ApplicationBase, NotificationCallsGoToTheDelegateOfTheirIdentifierOnly)
{
    struct Recorder : UserNotificationCenterDelegate {
        int delivered = 0, activated = 0;
        bool answer = true;
        void userNotificationCenterDidDeliverNotification(UserNotificationCenter&, const UserNotification&) override { ++delivered; }
        void userNotificationCenterDidActivateNotification(UserNotificationCenter&, const UserNotification&) override { ++activated; }
        bool userNotificationCenterShouldPresentNotification(UserNotificationCenter&, const UserNotification&) override { return answer; }
    };
    const auto delegate = makeDelegate(uniqueName());
    auto first = std::make_shared<Recorder>();
    auto second = std::make_shared<Recorder>();
    UserNotificationCenter center(QStringLiteral("test"), QStringLiteral("org.freedesktop.Notifications.Unused"));
    UserNotification known;
    known.identifier = "update";
    UserNotification unknown;
    unknown.identifier = "other";

    delegate->registerAsMultiplexedDelegate(first, "update");
    delegate->registerAsMultiplexedDelegate(second, "update");
    EXPECT_EQ(delegate->userNotificationCenterDelegatesByIdentifier().size(), 1);
    EXPECT_TRUE(delegate->userNotificationCenterShouldPresentNotification(center, known));
    delegate->userNotificationCenterDidDeliverNotification(center, known);
    delegate->userNotificationCenterDidActivateNotification(center, known);
    EXPECT_EQ(second->delivered + second->activated, 2);
    EXPECT_EQ(first->delivered + first->activated, 0) << "replaced";

    EXPECT_FALSE(delegate->userNotificationCenterShouldPresentNotification(center, unknown));
    delegate->userNotificationCenterDidActivateNotification(center, unknown);
    EXPECT_EQ(second->activated, 1);

    delegate->deregisterMultiplexedDelegateForUserNotificationsWithIdentifier("update");
    EXPECT_FALSE(delegate->userNotificationCenterShouldPresentNotification(center, known));
}

#ifndef NDEBUG
TEST(ApplicationBaseDeathTest, RegisteringWithoutDelegateOrIdentifierIsAContractViolation)
{
    // The assertion's line goes to the log sink; inside the child it goes to stderr for the matcher.
    struct StderrSink : LogSink {
        void write(const QString& text) override { fputs(qPrintable(text), stderr); }
    };
    TEVApplicationDelegate delegate;
    EXPECT_DEATH((setLogSink(std::make_shared<StderrSink>()), delegate.registerAsMultiplexedDelegate(nullptr, "x")), "no delegate specified");
    EXPECT_DEATH((setLogSink(std::make_shared<StderrSink>()),
                  delegate.registerAsMultiplexedDelegate(std::make_shared<UserNotificationCenterDelegate>(), "")),
                 "identifier missing");
}
#endif

TEST_F(ApplicationBase, DistributionImageNeedsABgFolderOnAReadOnlyFileSystem)
{
    QTemporaryDir image;
    QDir().mkpath(image.path() + "/Kelvaro");
    const auto delegate = makeDelegate(uniqueName());
    delegate->setBundlePath(image.path() + "/Kelvaro");
    EXPECT_FALSE(delegate->isApplicationRunningFromDistributionImage());
    kt::writeFile(image.path() + "/.BG", "a file");
    EXPECT_FALSE(delegate->isApplicationRunningFromDistributionImage()) << "a .BG file is no folder";
    QFile::remove(image.path() + "/.BG");
    QDir().mkpath(image.path() + "/.BG");
    EXPECT_FALSE(delegate->isApplicationRunningFromDistributionImage()) << "a writable copy of the image";
}

TEST_F(ApplicationBase, LocationAlertCopiesTheBundleAndLaunchesTheCopy)
{
    QTemporaryDir image;
    kt::writeFile(image.path() + "/Kelvaro/resources/a.txt", "a");
    QTemporaryDir home;
    env.set("HOME", home.path().toUtf8());
    kt::ScopedDesktopFakes fakes;
    fakes.alerts->answers = {2};
    const auto delegate = makeDelegate(uniqueName());
    delegate->setBundlePath(image.path() + "/Kelvaro");
    delegate->runApplicationLocationAlert();
    EXPECT_TRUE(QFile::exists(home.path() + "/Applications/Kelvaro/resources/a.txt"));
    ASSERT_EQ(fakes.workspace->launched.size(), 1);
    EXPECT_TRUE(fakes.workspace->launched.first().startsWith(home.path() + "/Applications/Kelvaro/"));
    EXPECT_EQ(delegate->terminations, 1);

    // A second copy finds the first in the way: the error is shown and the program goes on.
    fakes.alerts->answers = {2};
    delegate->runApplicationLocationAlert();
    ASSERT_EQ(fakes.alerts->shown.size(), 3);
    EXPECT_TRUE(fakes.alerts->shown.last().messageText.contains("already exists"));
    EXPECT_EQ(delegate->terminations, 1);
}

TEST_F(ApplicationBase, SandboxIsAHomeOtherThanThePasswordDatabasesOrAMarker)
{
    const auto delegate = makeDelegate(uniqueName());
    EXPECT_FALSE(delegate->isRunningInSandbox());
    env.set("FLATPAK_ID", "com.tarnwell.kelvaro");
    EXPECT_TRUE(delegate->isRunningInSandbox());
    env.unset("FLATPAK_ID");
    QTemporaryDir container;
    env.set("HOME", container.path().toUtf8());
    EXPECT_TRUE(delegate->isRunningInSandbox());
}

TEST_F(ApplicationBase, SandboxedReportGoesToTmp)
{
    enableReportLog(startupLogSettings());
    QTemporaryDir container;
    env.set("HOME", container.path().toUtf8());
    const QString name = QStringLiteral("KelvaroTest%1-%2").arg(getpid()).arg(uniqueName());
    const auto delegate = makeDelegate(name, QString());
    delegate->setupApplicationSupport();
    const QString report = "/tmp/" + name + "-Report.txt";
    EXPECT_TRUE(QFile::exists(report));
    EXPECT_FALSE(QFile::exists(Paths::desktopDirectory() + "/" + name + "-Report.txt"));
    QFile::remove(report);
}

TEST_F(ApplicationBase, OutsideASandboxAccessIsTheGivenUrlWithoutAsking)
{
    kt::ScopedDesktopFakes fakes;
    const auto delegate = makeDelegate(uniqueName());
    const QUrl url = QUrl::fromLocalFile("/etc/hostname");
    EXPECT_EQ(delegate->safetyURLForEntitledAccessToExistingObjectAtURL(url, false, "Grant", "the host name"), std::optional<QUrl>(url));
    EXPECT_TRUE(fakes.panel->shown.isEmpty());
    EXPECT_FALSE(UserDefaults::standard()->objectForKey("Grant").isValid());
}

TEST_F(ApplicationBase, SandboxedAccessAsksUntilTheRequestedObjectIsConfirmedAndKeepsTheGrant)
{
    QTemporaryDir container;
    env.set("HOME", container.path().toUtf8());
    QTemporaryDir data;
    const QString requested = data.path() + "/history";
    QDir().mkpath(requested);
    kt::ScopedDesktopFakes fakes;
    fakes.panel->answers = {data.path(), requested + "/"};
    const auto delegate = makeDelegate(uniqueName());
    const auto url = delegate->safetyURLForEntitledAccessToExistingObjectAtURL(QUrl::fromLocalFile(requested), true, "Grant", "history");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->toLocalFile(), requested);
    ASSERT_EQ(fakes.panel->shown.size(), 2) << "another folder chosen: asked again";
    for (const OpenPanelOptions& options : fakes.panel->shown) {
        EXPECT_EQ(options.directory, requested);
        EXPECT_TRUE(options.canChooseDirectories);
        EXPECT_FALSE(options.canChooseFiles);
        EXPECT_EQ(options.title, "Request for Entitlement");
        EXPECT_TRUE(options.message.contains("needs access to the object shown: history Press"));
    }
    const auto grant = UserDefaults::standard()->dataForKey("Grant");
    ASSERT_TRUE(grant);

    // The grant is used without asking.
    EXPECT_TRUE(delegate->safetyURLForEntitledAccessToExistingObjectAtURL(QUrl::fromLocalFile(requested), true, "Grant", "history"));
    EXPECT_EQ(fakes.panel->shown.size(), 2);

    // Replaced folder: the grant no longer resolves; confirming stores fresh data.
    // The new folder exists before the old one goes, so it cannot reuse the old inode.
    QDir().mkpath(data.path() + "/new");
    QDir(requested).removeRecursively();
    ASSERT_EQ(::rename(QFile::encodeName(data.path() + "/new"), QFile::encodeName(requested)), 0);
    fakes.panel->answers = {requested};
    EXPECT_TRUE(delegate->safetyURLForEntitledAccessToExistingObjectAtURL(QUrl::fromLocalFile(requested), true, "Grant", "history"));
    EXPECT_EQ(fakes.panel->shown.size(), 3);
    EXPECT_NE(UserDefaults::standard()->dataForKey("Grant"), grant);

    // Cancelled: nothing.
    UserDefaults::standard()->removeObjectForKey("Grant");
    EXPECT_FALSE(delegate->safetyURLForEntitledAccessToExistingObjectAtURL(QUrl::fromLocalFile(requested), true, "Grant", "history"));
}

TEST_F(ApplicationBase, IdentityTextsAndResumeError)
{
    const auto delegate = makeDelegate(uniqueName());
    EXPECT_EQ(delegate->presentedVersion(), "Version 0.1.0 (Build 1)");
    const Error error = TEVApplicationDelegate::errorForWindowResumeFailure();
    EXPECT_EQ(error.domain, "com.tarnwell.library");
    EXPECT_EQ(error.code, 9200);
    EXPECT_EQ(error.localizedDescription(), "Received Resume restoration information for unknown window.");
    kt::ScopedDesktopFakes fakes;
    delegate->contactAuthor();
    ASSERT_EQ(fakes.workspace->openedURLs.size(), 1);
    EXPECT_EQ(fakes.workspace->openedURLs.first().toEncoded(), "mailto:support@kelvaro.example.org?subject=Feedback%20Kelvaro");
    delegate->checkForSoftwareUpdate(); // no manager before the set-up: nothing happens
    EXPECT_TRUE(fakes.alerts->shown.isEmpty());
}

TEST(TEVStringFormat, FillsObjectPlaceholdersInOrder)
{
    EXPECT_EQ(TEVStringFormat::withObjects("%@ of %@ at 100%%", {"a", "b"}), "a of b at 100%");
    EXPECT_EQ(TEVStringFormat::withObjects("%@ and %@", {"a"}), "a and %@");
}

TEST(TEVStringFormat, QuotesCSVFieldsAsSpreadsheetsReadThem)
{
    const QString& set = TEVStringFormat::csvSpecialCharacters();
    const struct {
        QString field;
        QString expected;
    } cases[] = {
        {"CPU", "CPU"},
        {"CPU A", "\"CPU A\""},
        {"a,b", "\"a,b\""},
        {"line\nbreak", "\"line\nbreak\""},
        {"5\" drive", "\"5\"\" drive\""},
        {"say\"x\"", "\"say\"\"x\"\"\""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TEVStringFormat::quotedCSVField(c.field, set), c.expected) << c.field.toStdString();
    EXPECT_TRUE(TEVStringFormat::quotedCSVField(QString(), set).isNull());
    EXPECT_TRUE(TEVStringFormat::quotedCSVField("x", QString()).isNull());
}

TEST(TEVStringFormat, NumbersArePrintedAsCPrintfInTheCLocale)
{
    // QApplication sets LC_NUMERIC from the environment; the texts must not follow it.
    const std::string saved = setlocale(LC_NUMERIC, nullptr);
    const bool german = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    const struct {
        const char* format;
        double value;
        const char* text; // null: the format is refused
    } rows[] = {
        {"%3.0f", 36.5, " 36"}, {"%3.1f", 1.25, "1.2"}, {"%7.1f", 45.25, "   45.2"}, {"%g", 0.5, "0.5"},
        {"%02.4f", 0.25, "0.2500"}, {"x%-8.3ey", -1.5, "x-1.500e+00y"},
        {"%d", 1.0, nullptr}, {"%s", 1.0, nullptr}, {"%f%f", 1.0, nullptr}, {"no conversion", 1.0, nullptr},
    };
    for (const auto& row : rows) {
        const QString text = TEVStringFormat::withNumber(row.format, row.value);
        if (!row.text)
            EXPECT_TRUE(text.isNull()) << row.format;
        else
            EXPECT_EQ(text, QString::fromLatin1(row.text)) << row.format << (german ? " (de_DE numbers)" : "");
    }
    EXPECT_EQ(TEVStringFormat::withNumber("%.0f", 1e300).size(), 301); // longer than any buffer on the stack
    setlocale(LC_NUMERIC, saved.c_str());
}
