#include "platform/desktop/FileBookmark.h"
#include "platform/desktop/OperatingSystemIdentity.h"
#include "platform/desktop/ProcessTable.h"
#include "platform/desktop/Sandbox.h"
#include "platform/desktop/SpeechSynthesizer.h"
#include "platform/desktop/StartedPrograms.h"
#include "platform/desktop/Workspace.h"

#include "platform/desktop/Scheduler.h"

#include "tests/support/CapturingLog.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <unistd.h>

using namespace platform;
namespace kt = kelvaro::test;

TEST(OperatingSystemIdentity, ParsesOsReleaseQuotingCommentsAndBadLines)
{
    const auto entries = OperatingSystemIdentity::parseOsRelease(QStringLiteral(
        "# comment\nNAME=\"Fedora Linux\"\nVERSION_ID=39\nPRETTY_NAME='Fedora Linux 39 (Workstation Edition)'\n"
        "BUILD_ID=\"a\\\"b\"\nnot a line\n=empty key\n"));
    EXPECT_EQ(entries.value("NAME"), "Fedora Linux");
    EXPECT_EQ(entries.value("VERSION_ID"), "39");
    EXPECT_EQ(entries.value("PRETTY_NAME"), "Fedora Linux 39 (Workstation Edition)");
    EXPECT_EQ(entries.value("BUILD_ID"), "a\"b");
    EXPECT_EQ(entries.size(), 4);
}

TEST(OperatingSystemIdentity, PrefersTheVersionFileThenEtcThenUsrLib)
{
    QTemporaryDir root;
    const HostRoot host(root.path());
    EXPECT_FALSE(OperatingSystemIdentity::read(host)) << "neither file";

    kt::writeFile(root.path() + "/usr/lib/os-release", "NAME=Arch\nVERSION_ID=\"20240101\"\n");
    auto identity = OperatingSystemIdentity::read(host);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->productName, "Arch");
    EXPECT_EQ(identity->prettyName, "Arch") << "PRETTY_NAME falls back to NAME";

    kt::writeFile(root.path() + "/etc/os-release", "NAME=Debian\nVERSION_ID=12\nPRETTY_NAME=\"Debian 12\"\n");
    identity = OperatingSystemIdentity::read(host);
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->source, OperatingSystemIdentity::Source::OsRelease);
    EXPECT_EQ(identity->version, "12");

    kt::writeFile(root.path() + "/System/Library/CoreServices/SystemVersion.plist", "<plist><dict/></plist>");
    EXPECT_FALSE(OperatingSystemIdentity::read(host)) << "an empty version file is no identity";
}

TEST(Sandbox, FlatpakAndSnapMarkersCountAsConfined)
{
    const auto home = Sandbox::passwordDatabaseHome();
    ASSERT_TRUE(std::holds_alternative<QString>(home));
    const QString trueHome = std::get<QString>(home);
    kt::ScopedEnvironment env;
    env.unset("FLATPAK_ID");
    env.unset("SNAP");
    env.unset("SNAP_NAME");
    if (Sandbox::hasFlatpakMarker())
        GTEST_SKIP() << "running inside Flatpak";
    EXPECT_FALSE(Sandbox::isConfined(trueHome + "/"));
    EXPECT_TRUE(Sandbox::isConfined(trueHome + "/.var/app/x"));
    env.set("SNAP", "/snap/kelvaro/1");
    EXPECT_FALSE(Sandbox::isConfined(trueHome)) << "SNAP alone is no snap";
    env.set("SNAP_NAME", "kelvaro");
    EXPECT_TRUE(Sandbox::isConfined(trueHome));
    env.unset("SNAP");
    env.set("FLATPAK_ID", "com.tarnwell.kelvaro");
    EXPECT_TRUE(Sandbox::isConfined(trueHome));
}

TEST(Sandbox, ReadOnlyCheckTellsWritableFromMissing)
{
    QTemporaryDir dir;
    EXPECT_EQ(Sandbox::isOnReadOnlyFileSystem(dir.path()), std::optional<bool>(false));
    EXPECT_EQ(Sandbox::isOnReadOnlyFileSystem(dir.path() + "/missing"), std::nullopt);
}

TEST(ProcessTable, FindsOurselvesAndNothingForAMissingProcess)
{
    const auto self = ProcessTable::find(static_cast<qint32>(getpid()));
    ASSERT_TRUE(self);
    EXPECT_EQ(self->name, QCoreApplication::applicationName().left(15));
    EXPECT_EQ(self->effectiveUserID, geteuid());
    EXPECT_FALSE(ProcessTable::find(0));
    EXPECT_FALSE(ProcessTable::find(-5));
}

TEST(ProcessTable, NameEndsAtTheLastParenthesis)
{
    QTemporaryDir root;
    kt::writeFile(root.path() + "/proc/42/stat", "42 (evil) S (x) R 1 2 3\n");
    kt::writeFile(root.path() + "/proc/42/status", "Name:\tevil\nUid:\t1000\t1001\t1000\t1000\n");
    const auto entry = ProcessTable::find(42, HostRoot(root.path()));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "evil) S (x");
    EXPECT_EQ(entry->effectiveUserID, 1001u);
    EXPECT_FALSE(ProcessTable::find(43, HostRoot(root.path())));
}

TEST(FileBookmark, ResolvesTheSameObjectOnlyAndRejectsBadData)
{
    QTemporaryDir dir;
    const QString path = dir.path() + "/granted.txt";
    kt::writeFile(path, "a");
    const auto data = FileBookmark::create(path);
    ASSERT_TRUE(data);
    EXPECT_EQ(FileBookmark::resolve(*data), std::optional<QString>(path));

    // Another object moved to the name: the grant no longer resolves.
    kt::writeFile(dir.path() + "/other.txt", "b");
    ASSERT_TRUE(::rename(QFile::encodeName(dir.path() + "/other.txt"), QFile::encodeName(path)) == 0);
    EXPECT_FALSE(FileBookmark::resolve(*data));

    EXPECT_FALSE(FileBookmark::create(QStringLiteral("relative/path")));
    EXPECT_FALSE(FileBookmark::create(dir.path() + "/missing"));
    EXPECT_FALSE(FileBookmark::resolve(QByteArray("bplist00 garbage")));
    EXPECT_FALSE(FileBookmark::resolve({}));
}

TEST(Workspace, IconNamesAndSiblingProgramsAreFound)
{
    QTemporaryDir dir;
    EXPECT_EQ(Workspace::iconNameForFile(dir.path()), "inode-directory");
    EXPECT_EQ(Workspace::iconNameForFile(dir.path() + "/missing"), "");
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    EXPECT_EQ(DesktopWorkspace::pathOfApplication(self), std::optional<QString>(QCoreApplication::applicationFilePath()));
    EXPECT_FALSE(DesktopWorkspace::pathOfApplication(QStringLiteral("no-such-program-kelvaro")));
    EXPECT_FALSE(DesktopWorkspace::pathOfApplication(QStringLiteral("../bin/sh"))) << "a name, not a path";
}

TEST(Workspace, AFailedLaunchSaysWhereTheProgramWasLookedForOrWhereItWasFound)
{
    QTemporaryDir first, second;
    // Found there but not startable: a file with the execute bit that no kernel can run.
    const QString broken = second.filePath("kelvaro-broken-program");
    kelvaro::test::writeFile(broken, "not a program\n");
    QFile::setPermissions(broken, QFile::ReadOwner | QFile::ExeOwner);
    kelvaro::test::ScopedEnvironment environment;
    environment.set("PATH", (first.path() + ":" + second.path() + "::" + first.path()).toLocal8Bit());
    const QString beside = QCoreApplication::applicationDirPath();
    const struct { const char* name; QString foundAt; QStringList searched; } rows[] = {
        {"no-such-program-kelvaro", {}, {beside, first.path(), second.path()}},
        {"kelvaro-broken-program", QFileInfo(broken).absoluteFilePath(), {}},
    };
    DesktopWorkspace workspace;
    for (const auto& row : rows) {
        Workspace::LaunchFailure failure;
        EXPECT_FALSE(workspace.launchApplication(QString::fromLatin1(row.name), &failure)) << row.name;
        EXPECT_EQ(failure.foundAt, row.foundAt) << row.name;
        EXPECT_EQ(failure.searched, row.searched) << row.name;
    }
}

TEST(Workspace, AnExecutableFileIsRunNotOpenedInAnEditor)
{
    QTemporaryDir dir;
    const QString script = dir.filePath("on-alert.sh");
    kelvaro::test::writeFile(script, "#!/bin/sh\necho ran > \"$(dirname \"$0\")/marker\"\n");
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    DesktopWorkspace workspace;
    ASSERT_TRUE(workspace.openFile(script));
    EXPECT_TRUE(kelvaro::test::waitFor([&] { return QFileInfo::exists(dir.filePath("marker")); }));
    EXPECT_FALSE(workspace.openFile(dir.filePath("missing")));
}

// A program started from here (an alert's program, the desktop's handler for a document or an address, one
// launched by its path) gets the session's environment: the platform as the user had it (none where none was
// set), whatever this process chose for itself, and no activation token, which this process's start used.
TEST(Workspace, StartedProgramsGetTheSessionsEnvironmentWithoutTheUsedTokens)
{
    QTemporaryDir dir;
    // Each program writes its environment and its arguments into PROGRAM.env beside it.
    const QByteArray recorder = "#!/bin/sh\n{ env; echo \"ARGUMENTS=$*\"; } >\"$0.env.new\" && mv \"$0.env.new\" \"$0.env\"\n";
    for (const char* name : {"on-alert", "xdg-open"}) {
        kelvaro::test::writeFile(dir.filePath(name), recorder);
        QFile::setPermissions(dir.filePath(name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString document = dir.filePath("notes.txt");
    kelvaro::test::writeFile(document, "notes\n");
    const struct {
        const char* start;
        std::function<bool(DesktopWorkspace&)> run;
        const char* program;
        QString arguments;
    } starts[] = {
        {"an alert's program", [&](DesktopWorkspace& w) { return w.openFile(dir.filePath("on-alert")); }, "on-alert", {}},
        {"a program by its path", [&](DesktopWorkspace& w) { return w.launchApplicationAtPath(dir.filePath("on-alert")); }, "on-alert", {}},
        {"a document", [&](DesktopWorkspace& w) { return w.openFile(document); }, "xdg-open", "file://" + document},
        {"a web site", [](DesktopWorkspace& w) { return w.openURL(QUrl(QStringLiteral("https://kelvaro.example.org/"))); },
         "xdg-open", "https://kelvaro.example.org/"},
    };
    for (const std::optional<QByteArray>& usersPlatform : {std::optional<QByteArray>(), std::optional<QByteArray>("wayland")}) {
        kelvaro::test::ScopedEnvironment environment;
        environment.set("PATH", QFile::encodeName(dir.path()) + ":" + qgetenv("PATH"));
        if (usersPlatform)
            environment.set("QT_QPA_PLATFORM", *usersPlatform);
        else
            environment.unset("QT_QPA_PLATFORM");
        environment.set("XDG_ACTIVATION_TOKEN", "launcher-token-77");
        environment.set("DESKTOP_STARTUP_ID", "launcher-id-77_TIME4242");
        environment.set("KELVARO_TEST_SESSION", "kept");
        setEnvironmentVariableForThisProcess("QT_QPA_PLATFORM", "xcb;wayland");
        DesktopWorkspace workspace;
        for (const auto& start : starts) {
            SCOPED_TRACE(std::string(start.start) + ", the user's platform " + (usersPlatform ? usersPlatform->constData() : "none"));
            const QString record = dir.filePath(QString::fromLatin1(start.program) + ".env");
            QFile::remove(record);
            ASSERT_TRUE(start.run(workspace));
            ASSERT_TRUE(kelvaro::test::waitFor([&] { return QFileInfo::exists(record); }, 20'000));
            QHash<QString, QString> got;
            for (const QString& line : QString::fromLocal8Bit(kelvaro::test::readFile(record)).split(QLatin1Char('\n')))
                if (const qsizetype equals = line.indexOf(QLatin1Char('=')); equals > 0)
                    got.insert(line.left(equals), line.mid(equals + 1));
            EXPECT_EQ(got.contains("QT_QPA_PLATFORM"), usersPlatform.has_value());
            if (usersPlatform) {
                EXPECT_EQ(got.value("QT_QPA_PLATFORM"), QString::fromLatin1(*usersPlatform));
            }
            EXPECT_FALSE(got.contains("XDG_ACTIVATION_TOKEN")) << got.value("XDG_ACTIVATION_TOKEN").toStdString();
            EXPECT_FALSE(got.contains("DESKTOP_STARTUP_ID")) << got.value("DESKTOP_STARTUP_ID").toStdString();
            EXPECT_EQ(got.value("KELVARO_TEST_SESSION"), "kept");
            EXPECT_EQ(got.value("ARGUMENTS"), start.arguments);
        }
        // This process keeps what it chose.
        EXPECT_EQ(qgetenv("QT_QPA_PLATFORM"), "xcb;wayland");
    }
    // The tests after this one start programs in the environment they run in.
    setEnvironmentVariableForThisProcess("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM"));
}

TEST(EspeakSpeechSynthesizer, SpeaksIntoAWaveFile)
{
    if (QStandardPaths::findExecutable(QStringLiteral("espeak-ng")).isEmpty())
        GTEST_SKIP() << "espeak-ng is not installed";
    platform::EspeakSpeechSynthesizer speech;
    const QStringList voices = speech.availableVoices();
    ASSERT_FALSE(voices.isEmpty());
    QTemporaryDir dir;
    const QString wave = dir.filePath("alert.wav");
    speech.setWaveOutputPath(wave);
    // A text that starts like an option: it goes in on standard input, never as an argument.
    ASSERT_TRUE(speech.startSpeaking(QStringLiteral("-v Sensor alert: 81 degrees."), speech.defaultVoice()));
    EXPECT_TRUE(kelvaro::test::waitFor([&] { return QFileInfo(wave).size() > 1000; }, 20'000));
    // Done when its process has gone (each deletes itself at its end).
    EXPECT_TRUE(kelvaro::test::waitFor([] { return QCoreApplication::instance()->findChildren<QProcess*>().isEmpty(); }, 20'000));
    EXPECT_EQ(kelvaro::test::readFile(wave).left(4), "RIFF");
    EXPECT_FALSE(speech.startSpeaking(QStringLiteral("x"), QStringLiteral("org.espeak-ng.no-such-voice")));
}

namespace {

// A stand-in for espeak-ng: lists one voice, then does what `speaking` says for an utterance.
QString fakeEspeak(const QTemporaryDir& dir, const QByteArray& speaking, const QByteArray& listing = {})
{
    const QString path = dir.filePath("espeak-ng");
    kt::writeFile(path, "#!/bin/sh\nif [ \"$1\" = --voices ]; then\n" + listing +
                            "echo 'Pty Language       Age/Gender VoiceName          File                 Other Languages'\n"
                            "echo ' 2  en              --/M      English            gmw/en               (en 2)'\n"
                            "exit 0\nfi\ncat >/dev/null\n" + speaking + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace

TEST(EspeakSpeechSynthesizer, SaysOnceWhySpeechIsNotAvailable)
{
    QTemporaryDir dir;
    struct Row {
        const char* what;
        QString program;
        QByteArray path; // PATH while it runs
        QString reason;
        bool hasVoice;
    } rows[] = {
        {"no espeak-ng on the PATH", "espeak-ng", dir.path().toUtf8() + "/none", "espeak-ng was not found on the PATH", false},
        {"a configured program that is not there", dir.filePath("missing/espeak-ng"), qgetenv("PATH"), "was not found;", false},
        {"a voice list that fails", fakeEspeak(dir, "", "echo 'no data' >&2; exit 1\n"), qgetenv("PATH"),
         "could not list the voices of", false},
    };
    for (const Row& row : rows) {
        kt::ScopedEnvironment environment;
        environment.set("PATH", row.path);
        kt::log().clear();
        EspeakSpeechSynthesizer speech(row.program);
        EXPECT_TRUE(speech.defaultVoice().isEmpty()) << row.what;
        EXPECT_TRUE(speech.availableVoices().isEmpty()) << row.what;
        EXPECT_FALSE(speech.startSpeaking(QStringLiteral("one"), EspeakSpeechSynthesizer::kDefaultVoice)) << row.what;
        EXPECT_FALSE(speech.startSpeaking(QStringLiteral("two"), EspeakSpeechSynthesizer::kDefaultVoice)) << row.what;
        EXPECT_EQ(kt::log().count(row.reason), 1) << row.what << "\n" << kt::log().lines().join("").toStdString();
        EXPECT_EQ(kt::log().count("speech is not available"), 1) << row.what;
    }

    // Without a sound device espeak-ng exits 0 and says so only on its error output: told without an exit code.
    const struct {
        const char* speaking;
        const char* told;
    } failures[] = {
        {"echo \"ALSA lib confmisc.c:855:(parse_card) cannot find card '0'\" >&2\necho 'error: No such file or directory' >&2\nexit 0",
         "espeak-ng could not speak: ALSA lib confmisc.c:855:(parse_card) cannot find card '0'; speech is not available"},
        {"echo 'no voice data' >&2\nexit 3", "espeak-ng could not speak (exit code 3): no voice data; speech is not available"},
        {"exit 2", "espeak-ng could not speak (exit code 2): no message; speech is not available"},
    };
    for (const auto& failure : failures) {
        kt::log().clear();
        EspeakSpeechSynthesizer speech(fakeEspeak(dir, failure.speaking));
        ASSERT_EQ(speech.defaultVoice(), EspeakSpeechSynthesizer::kDefaultVoice);
        ASSERT_TRUE(speech.startSpeaking(QStringLiteral("one"), speech.defaultVoice()));
        ASSERT_TRUE(kt::waitFor([&] { return speech.runningUtterances() == 0; }));
        ASSERT_TRUE(speech.startSpeaking(QStringLiteral("two"), speech.defaultVoice()));
        ASSERT_TRUE(kt::waitFor([&] { return speech.runningUtterances() == 0; }));
        EXPECT_EQ(kt::log().count(failure.told), 1) << kt::log().lines().join("").toStdString();
        EXPECT_EQ(kt::log().count("exit code 0"), 0);
    }
}

TEST(EspeakSpeechSynthesizer, AHungEspeakIsEndedAndNeverPilesUp)
{
    QTemporaryDir dir;
    kt::log().clear();
    EspeakSpeechSynthesizer speech(fakeEspeak(dir, "exec sleep 600"));
    const QString voice = speech.defaultVoice();
    for (int i = 0; i < EspeakSpeechSynthesizer::kMaxUtterances; ++i)
        EXPECT_TRUE(speech.startSpeaking(QStringLiteral("Sensor alert"), voice)) << i;
    EXPECT_FALSE(speech.startSpeaking(QStringLiteral("one too many"), voice));
    EXPECT_FALSE(speech.startSpeaking(QStringLiteral("and another"), voice));
    EXPECT_EQ(speech.runningUtterances(), EspeakSpeechSynthesizer::kMaxUtterances);
    EXPECT_EQ(kt::log().count("further ones are dropped"), 1);

    // Far past what the text needs: each is ended, and speech goes on.
    kt::clock()->advanceSeconds(EspeakSpeechSynthesizer::utteranceTimeLimit(QStringLiteral("Sensor alert")) + 0.1);
    EXPECT_TRUE(kt::waitFor([&] { return speech.runningUtterances() == 0; }));
    EXPECT_EQ(kt::log().count("it was ended"), 1);
    EXPECT_TRUE(speech.startSpeaking(QStringLiteral("again"), voice));
    kt::clock()->advanceSeconds(EspeakSpeechSynthesizer::utteranceTimeLimit(QStringLiteral("again")) + 0.1);
    EXPECT_TRUE(kt::waitFor([&] { return speech.runningUtterances() == 0; }));

    // A voice list that never comes is given up after its time-out.
    EspeakSpeechSynthesizer silent(fakeEspeak(dir, "", "exec sleep 600\n"));
    silent.setVoiceListTimeout(200);
    EXPECT_TRUE(silent.availableVoices().isEmpty());
    EXPECT_EQ(kt::log().count("--voices gave no answer within 200 ms"), 1);
}
