#pragma once
// A clean application base for each test: no delegate, logger or update settings left from another test,
// the process's home equal to the password database's (not sandboxed), and an OS version chosen per test.

#include "framework/NSProcessInfoTEVAdditions.h"
#include "framework/TEVApplicationDelegate.h"
#include "framework/TEVSimpleCustomerSiteLogger.h"
#include "framework/TEVSoftwareUpdateManager.h"
#include "platform/desktop/Sandbox.h"
#include "platform/desktop/UserNotificationCenter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

class TestApplicationDelegate : public TEVApplicationDelegate {
public:
    int terminations = 0;

protected:
    void terminate() override { ++terminations; }
};

class AppBaseFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto home = platform::Sandbox::passwordDatabaseHome();
        ASSERT_TRUE(std::holds_alternative<QString>(home));
        env.set("HOME", std::get<QString>(home).toUtf8());
        env.unset("FLATPAK_ID");
        env.unset("SNAP");
        clearDefaults();
        useOsRelease();
    }

    void TearDown() override
    {
        TEVApplicationDelegate::setApplicationDelegate(nullptr);
        TEVSimpleCustomerSiteLogger::resetSharedLogger();
        platform::UserNotificationCenter::setDefaultCenter(nullptr);
        TEVSoftwareUpdateManager::setRepositoryURL({});
        TEVSoftwareUpdateManager::setMinimumPeriodForAutomaticUpdateCheck(86400);
        platform::Bundle::setMain(nullptr);
        platform::HostRoot::setCurrent(nullptr);
        NSProcessInfoTEVAdditions::updateVersionInfo();
        clearDefaults();
    }

    static void clearDefaults()
    {
        const auto defaults = platform::UserDefaults::standard();
        for (const char* key : {"SCSLEnable", "AutoUpdateNotification", "AutoUpdateCheckTimeStamp", "Grant"})
            defaults->removeObjectForKey(QString::fromLatin1(key));
        defaults->synchronize();
    }

    // The original platform's version file with this ProductVersion.
    void useSystemVersion(const QString& version)
    {
        const QString path = root.path() + "/System/Library/CoreServices/SystemVersion.plist";
        kelvaro::test::writeFile(path, QStringLiteral("<plist version=\"1.0\"><dict><key>ProductName</key><string>Mac OS X</string>"
                                                      "<key>ProductVersion</key><string>%1</string><key>ProductBuildVersion</key>"
                                                      "<string>15G31</string></dict></plist>")
                                           .arg(version)
                                           .toUtf8());
        platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(root.path()));
        NSProcessInfoTEVAdditions::updateVersionInfo();
    }

    void useOsRelease(const QByteArray& text = "NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n")
    {
        QFile::remove(root.path() + "/System/Library/CoreServices/SystemVersion.plist");
        kelvaro::test::writeFile(root.path() + "/etc/os-release", text);
        platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(root.path()));
        NSProcessInfoTEVAdditions::updateVersionInfo();
    }

    static void enableReportLog(const QVariantMap& settings)
    {
        platform::UserDefaults::standard()->setObject(settings, QStringLiteral("SCSLEnable"));
        platform::UserDefaults::standard()->synchronize();
    }

    static QVariantMap startupLogSettings()
    {
        return {{"Subsystems", QVariantList{QStringLiteral("Application")}}, {"Categories", QVariantList{}}};
    }

    // A name of this test's own, so report files of earlier tests in the process do not count.
    static QString uniqueName()
    {
        return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }

    // The report's lines without their time stamps ("00001 [Application-startup]: ...").
    static QStringList reportLines(const QString& path)
    {
        QStringList lines;
        for (const QString& line : QString::fromUtf8(kelvaro::test::readFile(path)).split('\n', Qt::SkipEmptyParts))
            lines.append(line.mid(20));
        return lines;
    }

    kelvaro::test::ScopedEnvironment env;
    QTemporaryDir root;
};
