#include "platform/foundation/Paths.h"

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

using platform::Paths;
using kelvaro::test::ScopedEnvironment;

namespace {

struct PathsFixture : ::testing::Test {
    QTemporaryDir home;
    ScopedEnvironment env;
    void SetUp() override
    {
        env.set("HOME", home.path().toUtf8());
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DESKTOP_DIR"})
            env.unset(name);
    }
};

} // namespace

TEST_F(PathsFixture, BaseDirectoriesFollowXdgVariablesAndIgnoreRelativeOnes)
{
    struct Row {
        const char* variable;
        QByteArray value; // empty: unset
        QString (*reader)();
        QString expected; // relative to HOME when it starts without '/'
    };
    const Row rows[] = {
        {"XDG_DATA_HOME", "", &Paths::dataHome, ".local/share"},
        {"XDG_DATA_HOME", "/srv/data", &Paths::dataHome, "/srv/data"},
        {"XDG_DATA_HOME", "relative/data", &Paths::dataHome, ".local/share"},
        {"XDG_CONFIG_HOME", "", &Paths::configHome, ".config"},
        {"XDG_CONFIG_HOME", "/srv/config/", &Paths::configHome, "/srv/config"},
        {"XDG_CONFIG_HOME", "config", &Paths::configHome, ".config"},
    };
    for (const Row& row : rows) {
        ScopedEnvironment scoped;
        if (row.value.isEmpty())
            scoped.unset(row.variable);
        else
            scoped.set(row.variable, row.value);
        const QString expected = row.expected.startsWith('/') ? row.expected : home.path() + '/' + row.expected;
        EXPECT_EQ(row.reader(), expected) << row.variable << "=" << row.value.constData();
    }
    env.set("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(Paths::applicationSupportDirectory("Kelvaro"), "/srv/data/Kelvaro/");
}

TEST_F(PathsFixture, DesktopFromVariableThenUserDirsFileThenHome)
{
    const QString fromVariable = home.path() + "/Variable";
    const QString fromFile = home.path() + "/Schreibtisch";
    QDir().mkpath(fromVariable);
    QDir().mkpath(fromFile);
    const QString userDirs = home.path() + "/.config/user-dirs.dirs";

    EXPECT_EQ(Paths::desktopDirectory(), home.path()) << "no variable, no file";

    kelvaro::test::writeFile(userDirs, "# written by xdg-user-dirs-update\nXDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                        "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
    EXPECT_EQ(Paths::desktopDirectory(), fromFile);

    env.set("XDG_DESKTOP_DIR", fromVariable.toUtf8());
    EXPECT_EQ(Paths::desktopDirectory(), fromVariable);

    env.set("XDG_DESKTOP_DIR", (home.path() + "/Missing").toUtf8());
    EXPECT_EQ(Paths::desktopDirectory(), home.path()) << "a folder that does not exist counts as none";

    env.unset("XDG_DESKTOP_DIR");
    kelvaro::test::writeFile(userDirs, "XDG_DESKTOP_DIR=Desktop\n");
    EXPECT_EQ(Paths::desktopDirectory(), home.path()) << "unquoted, relative value is ignored";
}

TEST_F(PathsFixture, SafeWriteReplacesContentAndLeavesNoTemporaryFile)
{
    const QString path = home.path() + "/Kelvaro-CurrentAlert.txt";
    kelvaro::test::writeFile(path, "old content that is longer\n");
    const platform::FileWriteResult result = Paths::writeFileSafely(path, "sensor-1\n");
    ASSERT_TRUE(result) << result.error.toStdString();
    EXPECT_EQ(kelvaro::test::readFile(path), "sensor-1\n");
    EXPECT_EQ(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"Kelvaro-CurrentAlert.txt"});

    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u & ~mask);
}

TEST_F(PathsFixture, SafeWriteReplacesPlantedSymlinkInsteadOfFollowingIt)
{
    const QString victim = home.path() + "/victim";
    kelvaro::test::writeFile(victim, "precious");
    const QString path = home.path() + "/Kelvaro-CurrentAlert.txt";
    ASSERT_TRUE(QFile::link(victim, path));

    ASSERT_TRUE(Paths::writeFileSafely(path, "sensor-2\n"));
    EXPECT_EQ(kelvaro::test::readFile(victim), "precious");
    EXPECT_FALSE(QFileInfo(path).isSymLink());
    EXPECT_EQ(kelvaro::test::readFile(path), "sensor-2\n");

    // A dangling link (pointing where a file would be created) is replaced too, and nothing appears at its target.
    const QString dangling = home.path() + "/nowhere";
    QFile::remove(path);
    ASSERT_TRUE(QFile::link(dangling, path));
    ASSERT_TRUE(Paths::writeFileSafely(path, "sensor-3\n"));
    EXPECT_FALSE(QFileInfo::exists(dangling));
    EXPECT_EQ(kelvaro::test::readFile(path), "sensor-3\n");
}

TEST_F(PathsFixture, SafeWriteReportsFailureAndCleansUp)
{
    const platform::FileWriteResult missingFolder = Paths::writeFileSafely(home.path() + "/no/such/file", "x");
    EXPECT_FALSE(missingFolder);
    EXPECT_FALSE(missingFolder.error.isEmpty());

    // A folder at the name cannot be replaced by a file; the temporary file must not stay behind.
    QDir().mkpath(home.path() + "/occupied");
    const platform::FileWriteResult occupied = Paths::writeFileSafely(home.path() + "/occupied", "x");
    EXPECT_FALSE(occupied);
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"occupied"});
}

TEST_F(PathsFixture, WriteThroughLinksReplacesTheTargetAndKeepsEveryLink)
{
    struct Link {
        const char* name;
        const char* target; // "@" stands for the row's folder, for an absolute target
    };
    struct Row {
        const char* what;
        std::vector<Link> links;
        const char* existing; // holds "old" before the write; null: none
        const char* written;  // where the new content lands; null: the write fails and changes nothing
        QString error;        // part of the failure's reason
    };
    const Row rows[] = {
        {"plain file", {}, "config/prefs.plist", "config/prefs.plist", {}},
        {"absolute link", {{"config/prefs.plist", "@/sync/prefs.plist"}}, "sync/prefs.plist", "sync/prefs.plist", {}},
        {"relative link", {{"config/prefs.plist", "../sync/prefs.plist"}}, "sync/prefs.plist", "sync/prefs.plist", {}},
        // Taken as text, "config/../../sync" would lead out of the row's folder.
        {"relative link in a linked folder",
         {{"config", "deep/config"}, {"deep/config/prefs.plist", "../../sync/prefs.plist"}},
         "sync/prefs.plist", "sync/prefs.plist", {}},
        {"chain", {{"config/prefs.plist", "../sync/next"}, {"sync/next", "@/sync/prefs.plist"}}, "sync/prefs.plist",
         "sync/prefs.plist", {}},
        {"dangling link", {{"config/prefs.plist", "../sync/prefs.plist"}}, nullptr, "sync/prefs.plist", {}},
        {"link into a folder that does not exist", {{"config/prefs.plist", "../unmounted/prefs.plist"}}, nullptr,
         nullptr, "which does not exist"},
        {"loop", {{"config/prefs.plist", "loop"}, {"config/loop", "prefs.plist"}}, nullptr, nullptr,
         QString::fromLocal8Bit(std::strerror(ELOOP))},
        {"link to a folder", {{"config/prefs.plist", "../sync/"}}, nullptr, nullptr, "not to a file"},
        {"link to a folder by its name", {{"config/prefs.plist", "../sync"}}, nullptr, nullptr, "is a folder, not a file"},
        // As a link to /dev/null would be: never renamed over.
        {"link to a FIFO", {{"config/prefs.plist", "../sync/fifo"}}, nullptr, nullptr, "is a FIFO, not a file"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const QString root = home.path() + "/row" + QString::number(n++);
        for (const char* folder : {"/sync", "/deep/config"})
            ASSERT_TRUE(QDir().mkpath(root + folder));
        for (const Link& link : row.links) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(root + '/' + link.name).path()));
            ASSERT_TRUE(QFile::link(QString::fromUtf8(link.target).replace('@', root), root + '/' + link.name));
        }
        ASSERT_TRUE(QDir().mkpath(root + "/config"));
        if (row.existing)
            kelvaro::test::writeFile(root + '/' + row.existing, "old");
        ASSERT_EQ(::mkfifo(QFile::encodeName(root + "/sync/fifo").constData(), 0600), 0);
        const auto entries = [&] {
            QStringList all;
            QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                all.append(it.next().mid(root.size()));
            all.sort();
            return all;
        };
        const QStringList before = entries();

        const platform::FileWriteResult result = Paths::writeFileThroughLinks(root + "/config/prefs.plist", "new");
        if (row.written) {
            ASSERT_TRUE(result) << result.error.toStdString();
            EXPECT_EQ(kelvaro::test::readFile(root + '/' + row.written), "new");
            EXPECT_EQ(Paths::resolveFileLinks(root + "/config/prefs.plist").path,
                      QFileInfo(root + '/' + row.written).canonicalFilePath());
            QStringList expected = before;
            if (!row.existing)
                expected.append('/' + QString::fromUtf8(row.written));
            expected.sort();
            EXPECT_EQ(entries(), expected) << "a new entry or a temporary file left";
        } else {
            EXPECT_FALSE(result);
            EXPECT_TRUE(result.error.contains(row.error)) << result.error.toStdString();
            EXPECT_TRUE(result.error.contains(root + "/config/prefs.plist")) << "names the user's file";
            EXPECT_EQ(entries(), before);
        }
        for (const Link& link : row.links) {
            char target[4096];
            const ssize_t size = ::readlink(QFile::encodeName(root + '/' + link.name).constData(), target, sizeof target);
            EXPECT_EQ(QString::fromUtf8(target, std::max<ssize_t>(size, 0)), QString::fromUtf8(link.target).replace('@', root))
                << link.name << " is no longer the link it was";
        }
    }
}
