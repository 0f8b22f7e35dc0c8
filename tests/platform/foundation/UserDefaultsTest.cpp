#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Archivable.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include "tests/support/ProcessLocale.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>
#include <vector>

using platform::UserDefaults;
namespace values = platform::values;

namespace {

struct Opaque final : platform::Archivable {
    QString className() const override { return "Opaque"; }
    void encodeWithCoder(platform::Coder&) const override {}
};

QVariantMap readPlist(const QString& path)
{
    return platform::readPropertyList(kelvaro::test::readFile(path)).value.toMap();
}

struct UserDefaultsFixture : ::testing::Test {
    QTemporaryDir dir;
    QString path() const { return dir.path() + "/kelvaro/com.example.test.plist"; }
};

} // namespace

TEST_F(UserDefaultsFixture, TypedReadersAreStrict)
{
    UserDefaults defaults(path());
    defaults.setBool(true, "bool");
    defaults.setInteger(42, "int");
    defaults.setDouble(-2.75, "real");
    defaults.setObject("YES", "yes");
    defaults.setObject("12", "digits");
    defaults.setObject(QByteArray("\x01\x02", 2), "data");
    defaults.setObject(QVariantList{1, "a"}, "array");
    defaults.setObject(QVariantMap{{"k", "v"}}, "dict");
    defaults.setObject(values::fromUnsigned(quint64(1) << 63), "huge");

    struct Row {
        const char* key;
        bool boolValue;
        qint64 integer;
        double real;
        bool isString;
    };
    const Row rows[] = {
        {"bool", true, 1, 1.0, false},
        {"int", true, 42, 42.0, false},
        {"real", true, -2, -2.75, false},
        {"yes", false, 0, 0.0, true},   // a string never reads as a boolean
        {"digits", false, 0, 0.0, true}, // nor as a number
        {"data", false, 0, 0.0, false},
        {"array", false, 0, 0.0, false},
        {"huge", true, 0, 9223372036854775808.0, false}, // 2^63 is no signed integer
        {"absent", false, 0, 0.0, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(defaults.boolForKey(row.key), row.boolValue) << row.key;
        EXPECT_EQ(defaults.integerForKey(row.key), row.integer) << row.key;
        EXPECT_DOUBLE_EQ(defaults.doubleForKey(row.key), row.real) << row.key;
        EXPECT_FLOAT_EQ(defaults.floatForKey(row.key), float(row.real)) << row.key;
        EXPECT_EQ(!defaults.stringForKey(row.key).isNull(), row.isString) << row.key;
    }
    EXPECT_EQ(defaults.dataForKey("data"), QByteArray("\x01\x02", 2));
    EXPECT_EQ(defaults.dataForKey("yes"), std::nullopt);
    EXPECT_EQ(defaults.arrayForKey("dict"), std::nullopt);
    EXPECT_EQ(defaults.dictionaryForKey("array"), std::nullopt);
}

TEST_F(UserDefaultsFixture, ValuesReadBackWithTheirKindsAfterWriting)
{
    const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
    const QVariantMap written{
        {"bool", values::fromBool(false)},
        {"int", 7}, // an int is stored as qint64
        {"float", QVariant(1.5f)},
        {"date", values::fromDate(when)},
        {"nested", QVariantMap{{"list", QVariantList{values::fromBool(true), values::fromSigned(-1), "x"}}}},
    };
    {
        UserDefaults defaults(path());
        for (auto it = written.begin(); it != written.end(); ++it)
            ASSERT_TRUE(defaults.setObject(it.value(), it.key()));
        EXPECT_EQ(values::kindOf(defaults.objectForKey("int")), values::Kind::Signed);
        EXPECT_EQ(defaults.objectForKey("date").toDateTime(), when.addMSecs(-678)) << "whole seconds, as XML keeps them";
        ASSERT_TRUE(defaults.synchronize());
    }
    QVariantMap expected = written;
    expected["date"] = values::fromDate(when.addMSecs(-678));
    UserDefaults reread(path());
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_TRUE(values::strictlyEqual(reread.objectForKey(it.key()), it.value())) << it.key().toStdString();
    EXPECT_EQ(values::kindOf(reread.objectForKey("bool")), values::Kind::Bool);
}

TEST_F(UserDefaultsFixture, SetInvalidRemovesAndNonPropertyListValuesAreRefused)
{
    UserDefaults defaults(path());
    defaults.setInteger(1, "kept");
    EXPECT_FALSE(defaults.setObject(values::fromObject(std::make_shared<Opaque>()), "kept"));
    EXPECT_FALSE(defaults.setObject(QVariantList{1, values::fromObject(std::make_shared<Opaque>())}, "kept"));
    EXPECT_FALSE(defaults.setObject(QDateTime(), "kept"));
    EXPECT_FALSE(defaults.setObject(QString("x") + QChar(0) + "y", "kept"));
    EXPECT_FALSE(defaults.setObject(QVariantMap{{QString("k") + QChar(0), 1}}, "kept"));
    EXPECT_EQ(defaults.integerForKey("kept"), 1);
    EXPECT_EQ(kelvaro::test::log().count("UserDefaults: refused a value for \"kept\""), 5);
    defaults.setInteger(2, "later");
    EXPECT_TRUE(defaults.synchronize()) << "a refused value never blocks later saves";

    EXPECT_TRUE(defaults.setObject(QVariant(), "kept"));
    EXPECT_FALSE(defaults.objectForKey("kept").isValid());
}

TEST_F(UserDefaultsFixture, RegistrationLayerShowsThroughAndIsNeverWritten)
{
    UserDefaults defaults(path());
    defaults.registerDefaults({{"interval", 5}, {"unit", "C"}});
    defaults.registerDefaults({{"interval", 10}});
    EXPECT_EQ(defaults.integerForKey("interval"), 10) << "a later registration wins";

    defaults.setInteger(2, "interval");
    EXPECT_EQ(defaults.integerForKey("interval"), 2);
    const QVariantMap all = defaults.dictionaryRepresentation();
    EXPECT_EQ(all.value("interval").toLongLong(), 2);
    EXPECT_EQ(all.value("unit").toString(), "C");

    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(readPlist(path()).keys(), QStringList{"interval"});

    defaults.removeObjectForKey("interval");
    EXPECT_EQ(defaults.integerForKey("interval"), 10);
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_TRUE(readPlist(path()).isEmpty());
}

TEST_F(UserDefaultsFixture, WriteReplacesTheFileAtomically)
{
    UserDefaults defaults(path());
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_FALSE(QFile::exists(path())) << "nothing set, nothing written";

    defaults.setObject("first", "key");
    ASSERT_TRUE(defaults.synchronize());
    QFile old(path());
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));

    defaults.setObject(QString(100000, 'x'), "key");
    ASSERT_TRUE(defaults.synchronize());
    // A reader of the old file still sees all of it: the new one arrived by rename.
    EXPECT_EQ(platform::readPropertyList(old.readAll()).value.toMap().value("key").toString(), "first");
    EXPECT_EQ(readPlist(path()).value("key").toString().size(), 100000);

    struct stat st{};
    ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "preferences are private";
    const QStringList leftovers = QDir(dir.path() + "/kelvaro").entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(leftovers, (QStringList{".com.example.test.plist.lock", "com.example.test.plist"}));
}

TEST_F(UserDefaultsFixture, TwoWritersOnOneFileLoseNeitherWrite)
{
    {
        UserDefaults seed(path());
        seed.setInteger(1, "shared");
        seed.setInteger(1, "doomed");
        ASSERT_TRUE(seed.synchronize());
    }
    UserDefaults a(path());
    UserDefaults b(path());
    a.setObject("from a", "a");
    a.removeObjectForKey("doomed");
    b.setObject("from b", "b");
    ASSERT_TRUE(a.synchronize());
    ASSERT_TRUE(b.synchronize());

    const QVariantMap file = readPlist(path());
    EXPECT_EQ(file.value("a").toString(), "from a");
    EXPECT_EQ(file.value("b").toString(), "from b");
    EXPECT_EQ(file.value("shared").toLongLong(), 1);
    EXPECT_FALSE(file.contains("doomed")) << "b never touched it, so a's removal stands";
    EXPECT_FALSE(b.objectForKey("doomed").isValid()) << "b took the file's state of the keys it did not change";

    EXPECT_FALSE(a.objectForKey("b").isValid()) << "not before a synchronizes";
    ASSERT_TRUE(a.synchronize());
    EXPECT_EQ(a.stringForKey("b"), "from b");

    // Both change one key: the later synchronize wins.
    a.setInteger(2, "shared");
    b.setInteger(3, "shared");
    ASSERT_TRUE(a.synchronize());
    ASSERT_TRUE(b.synchronize());
    ASSERT_TRUE(a.synchronize());
    EXPECT_EQ(a.integerForKey("shared"), 3);
}

TEST_F(UserDefaultsFixture, ConcurrentSettersAndSynchronizersKeepEveryKey)
{
    UserDefaults a(path());
    UserDefaults b(path());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            UserDefaults& target = t % 2 ? a : b;
            for (int i = 0; i < 20; ++i) {
                target.setInteger(i, QString("t%1-%2").arg(t).arg(i));
                if (i % 5 == 0)
                    target.synchronize();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    ASSERT_TRUE(a.synchronize());
    ASSERT_TRUE(b.synchronize());
    EXPECT_EQ(readPlist(path()).size(), 80);
}

TEST_F(UserDefaultsFixture, CorruptFileIsKeptUntilSomethingIsSetThenMovedAside)
{
    const QByteArray garbage = "<?xml version=\"1.0\"?><plist><dict><key>Trunc";
    QDir().mkpath(QFileInfo(path()).absolutePath());
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    UserDefaults defaults(path());
    defaults.registerDefaults({{"interval", 5}});
    EXPECT_EQ(defaults.integerForKey("interval"), 5);
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(kelvaro::test::readFile(path()), garbage) << "not overwritten while nothing is set";
    EXPECT_EQ(kelvaro::test::log().count("UserDefaults: "), 1) << "logged once";

    defaults.setInteger(7, "interval");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(kelvaro::test::readFile(path() + ".corrupt"), garbage);
    EXPECT_EQ(readPlist(path()).value("interval").toLongLong(), 7);
    EXPECT_TRUE(kelvaro::test::log().contains("moved the unreadable"));

    // A second bad file does not replace the first one set aside.
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("second garbage");
    }
    defaults.setInteger(8, "other");
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(kelvaro::test::readFile(path() + ".corrupt"), garbage);
    EXPECT_EQ(kelvaro::test::readFile(path() + ".corrupt-2"), "second garbage");
    const QVariantMap file = readPlist(path());
    EXPECT_EQ(file.value("interval").toLongLong(), 7) << "the values known here survive";
    EXPECT_EQ(file.value("other").toLongLong(), 8);
}

TEST_F(UserDefaultsFixture, UnwrittenChangesSurviveAFailedWrite)
{
    const QString blocked = dir.path() + "/blocked";
    {
        QFile file(blocked); // a file where the folder should be
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString target = blocked + "/kelvaro.plist";
    UserDefaults defaults(target);
    defaults.setInteger(3, "key");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(kelvaro::test::log().contains("UserDefaults: "));
    EXPECT_EQ(defaults.lastWriteError(), "cannot create the folder " + blocked);

    ASSERT_TRUE(QFile::remove(blocked));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_TRUE(defaults.lastWriteError().isNull());
    EXPECT_EQ(readPlist(target).value("key").toLongLong(), 3);

    {
        UserDefaults doomed(target);
        doomed.setBool(true, "flag");
    }
    EXPECT_TRUE(UserDefaults(target).boolForKey("flag")) << "destroying an instance writes its changes";
}

TEST_F(UserDefaultsFixture, UnreadableFileIsNeitherMovedAsideNorReplaced)
{
    ASSERT_TRUE(QDir().mkpath(path())); // exists, but cannot be read as a file
    UserDefaults defaults(path());
    // The reason names the file, for the user.
    EXPECT_TRUE(defaults.unreadableReason().startsWith("cannot read " + path())) << defaults.unreadableReason().toStdString();
    defaults.setInteger(1, "key");
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(defaults.lastWriteError(), defaults.unreadableReason());
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(QFileInfo(path()).isDir());
    EXPECT_FALSE(QFileInfo::exists(path() + ".corrupt"));
    EXPECT_EQ(kelvaro::test::log().count("UserDefaults: cannot read"), 1);

    ASSERT_TRUE(QDir(path()).removeRecursively());
    EXPECT_TRUE(defaults.synchronize()) << "the change waited for the file to become readable";
    EXPECT_TRUE(defaults.unreadableReason().isNull());
    EXPECT_EQ(readPlist(path()).value("key").toLongLong(), 1);
}

TEST(UserDefaults, DomainsLiveInTheConfigFolder)
{
    const auto first = UserDefaults::forDomain("com.example.domain");
    ASSERT_TRUE(first);
    EXPECT_EQ(first, UserDefaults::forDomain("com.example.domain"));
    EXPECT_EQ(first->domain(), "com.example.domain");
    EXPECT_EQ(first->filePath(), platform::Paths::configHome() + "/kelvaro/com.example.domain.plist");
    for (const char* bad : {"", "../escape", "a/b", ".."})
        EXPECT_EQ(UserDefaults::forDomain(bad), nullptr) << bad;
}

TEST_F(UserDefaultsFixture, FractionsSurviveADecimalCommaLocale)
{
    const QVariantMap stored{{"alarmThreshold", values::fromReal(348.15)}, {"opacity", values::fromReal(0.5)},
                             {"interval", values::fromReal(2.4)}, {"count", values::fromSigned(3)}};
    ASSERT_TRUE(QDir().mkpath(dir.path() + "/kelvaro"));
    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(platform::writePropertyList(values::fromDictionary(stored), platform::PlistFormat::Xml));
    file.close();
    const QByteArray before = kelvaro::test::readFile(path());

    const kelvaro::test::ProcessLocale german("de_DE.UTF-8");
    if (!german.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed (scripts/setup generates it)";
    {
        UserDefaults defaults(path());
        EXPECT_EQ(defaults.doubleForKey("alarmThreshold"), 348.15);
        EXPECT_EQ(defaults.doubleForKey("opacity"), 0.5);
        EXPECT_EQ(defaults.doubleForKey("interval"), 2.4);
        defaults.setObject(values::fromSigned(3), "count"); // a write of the whole file
        ASSERT_TRUE(defaults.synchronize());
    }
    EXPECT_EQ(kelvaro::test::readFile(path()), before);
    EXPECT_TRUE(values::strictlyEqual(values::fromDictionary(readPlist(path())), values::fromDictionary(stored)));
}

// No one's settings come near the bound: a file over it is as unreadable as a broken one (the defaults are
// used, and it is moved aside when asked), without being read whole; a file of exactly the bound is read.
TEST_F(UserDefaultsFixture, AFileOverTheSizeBoundIsSetAsideAndOneAtItIsRead)
{
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                            "<key>interval</key><integer>7</integer><key>padding</key><string>";
    const QByteArray tail = "</string></dict></plist>\n";
    for (const qint64 size : {UserDefaults::kMaximumFileBytes, UserDefaults::kMaximumFileBytes + 1}) {
        SCOPED_TRACE(size);
        const QByteArray bytes = head + QByteArray(size - head.size() - tail.size(), 'x') + tail;
        ASSERT_EQ(bytes.size(), size);
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile::remove(path() + ".corrupt");
        kelvaro::test::writeFile(path(), bytes);
        const bool tooLarge = size > UserDefaults::kMaximumFileBytes;

        UserDefaults defaults(path());
        EXPECT_EQ(defaults.integerForKey("interval"), tooLarge ? 0 : 7);
        const QString aside = defaults.setAsideBadFile();
        EXPECT_EQ(aside, tooLarge ? path() + ".corrupt" : QString());
        EXPECT_EQ(QFileInfo(tooLarge ? aside : path()).size(), size);
        EXPECT_EQ(kelvaro::test::log().contains("is larger than 4194304 bytes"), tooLarge);
    }
}

TEST_F(UserDefaultsFixture, WhatTheNextStartWouldRefuseOrAReadOnlyFileIsNeverWritten)
{
    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>"
                            "<key>interval</key><integer>7</integer><key>padding</key><string>";
    const QByteArray tail = "</string></dict></plist>\n";
    struct Row {
        const char* what;
        qint64 fileBytes; // 0: no file
        mode_t mode;
        qint64 valueBytes; // the size of the value set
        const char* error;
        int logged; // lines for two attempts
    };
    const Row rows[] = {
        // Written back with indentation and a new key, a file just under the bound grows over it.
        {"a file just under the bound", UserDefaults::kMaximumFileBytes - 19, 0600, 1, "more than the 4194304 bytes", 2},
        {"no file, a value over the bound", 0, 0600, UserDefaults::kMaximumFileBytes, "more than the 4194304 bytes", 2},
        {"a read-only file (mode 400)", 1000, 0400, 1, "is read-only", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        kelvaro::test::log().clear();
        QDir().mkpath(QFileInfo(path()).absolutePath());
        QFile::remove(path());
        QByteArray before;
        if (row.fileBytes > 0) {
            before = head + QByteArray(row.fileBytes - head.size() - tail.size(), 'x') + tail;
            kelvaro::test::writeFile(path(), before);
            ASSERT_EQ(::chmod(QFile::encodeName(path()).constData(), row.mode), 0);
        }
        UserDefaults defaults(path());
        defaults.setObject(QString(int(row.valueBytes), QLatin1Char('y')), "added");
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_FALSE(defaults.synchronize());
            EXPECT_FALSE(defaults.lastSynchronizeWroteFile());
            EXPECT_TRUE(defaults.lastWriteError().contains(QLatin1String(row.error))) << defaults.lastWriteError().toStdString();
        }
        EXPECT_EQ(kelvaro::test::log().count(QLatin1String(row.error)), row.logged);
        if (row.fileBytes > 0) {
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(path()).constData(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, row.mode);
            EXPECT_EQ(kelvaro::test::readFile(path()), before);
        } else {
            EXPECT_FALSE(QFileInfo::exists(path()));
        }
        EXPECT_FALSE(QFileInfo::exists(path() + ".corrupt"));
        defaults.removeObjectForKey("added");
        EXPECT_TRUE(defaults.synchronize()) << "nothing left to write once the change is undone";
    }
}

TEST_F(UserDefaultsFixture, ASynchronizeTellsWhetherItWroteTheFile)
{
    UserDefaults defaults(path());
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_FALSE(defaults.lastSynchronizeWroteFile()) << "nothing to write";
    defaults.setInteger(4, "key");
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_TRUE(defaults.lastSynchronizeWroteFile());
    defaults.setInteger(4, "key");
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_FALSE(defaults.lastSynchronizeWroteFile()) << "the same value again";
}

TEST_F(UserDefaultsFixture, KeysAndTextsWithControlCharactersComeBackAsTheyWere)
{
    struct Row {
        const char* what;
        QString key;
        QVariant value;
        platform::PlistFormat written;
    };
    const Row rows[] = {
        {"plain", "Plain", QString("text"), platform::PlistFormat::Xml},
        {"a control character in a key", QString("SERIAL\x01" "A"), QString("kept"), platform::PlistFormat::Binary},
        {"an escape sequence in a text", "Name", QString("\x1b[31mred"), platform::PlistFormat::Binary},
        {"a nested key", "Machines", QVariantMap{{QString("C\x7f\x02"), QVariantList{QString("x\x0b")}}}, platform::PlistFormat::Binary},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QDir().mkpath(QFileInfo(path()).absolutePath());
        // As a binary file (another program's) holds it.
        kelvaro::test::writeFile(path(), platform::writePropertyList(QVariantMap{{row.key, row.value}}, platform::PlistFormat::Binary));
        {
            UserDefaults defaults(path());
            defaults.setInteger(1, "Changed");
            ASSERT_TRUE(defaults.synchronize());
        }
        const auto read = platform::readPropertyList(kelvaro::test::readFile(path()));
        EXPECT_EQ(read.format, row.written);
        EXPECT_TRUE(values::strictlyEqual(read.value.toMap().value(row.key), row.value));
        EXPECT_TRUE(UserDefaults(path()).objectForKey(row.key).isValid());
    }
}

TEST_F(UserDefaultsFixture, AFileKeptThroughALinkIsWrittenAndSetAsideWhereTheLinkLeads)
{
    const QByteArray stored = platform::writePropertyList(QVariantMap{{"other", 1}}, platform::PlistFormat::Xml);
    struct Row {
        const char* what;
        const char* target; // the link's, from the preferences folder
        QByteArray before;  // the target's; null: none
        const char* aside;  // where a bad target goes, from the temporary folder; null: nowhere
        const char* error;  // why the first synchronize fails; null: it succeeds
    };
    const Row rows[] = {
        {"a file in another folder", "../sync/prefs.plist", stored, nullptr, nullptr},
        {"a missing file", "../sync/prefs.plist", {}, nullptr, nullptr},
        {"a damaged file", "../sync/prefs.plist", "<plist><dict><key>Trunc", "sync/prefs.plist.corrupt", nullptr},
        {"a folder that does not exist", "../unmounted/prefs.plist", {}, nullptr, "which does not exist"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir root;
        const QString link = root.path() + "/kelvaro/com.example.test.plist";
        ASSERT_TRUE(QDir().mkpath(root.path() + "/kelvaro") && QDir().mkpath(root.path() + "/sync"));
        ASSERT_TRUE(QFile::link(row.target, link));
        if (!row.before.isNull())
            kelvaro::test::writeFile(root.path() + "/sync/prefs.plist", row.before);

        UserDefaults defaults(link);
        defaults.setInteger(2, "key");
        if (row.error) {
            EXPECT_FALSE(defaults.synchronize());
            EXPECT_TRUE(defaults.lastWriteError().contains(row.error)) << defaults.lastWriteError().toStdString();
            EXPECT_EQ(QFile::symLinkTarget(link), QFileInfo(root.path() + "/kelvaro/" + row.target).absoluteFilePath());
            // The folder back (a disk mounted again): the change was kept for it.
            ASSERT_TRUE(QDir().mkpath(root.path() + "/unmounted"));
        }
        ASSERT_TRUE(defaults.synchronize()) << defaults.lastWriteError().toStdString();

        EXPECT_TRUE(QFileInfo(link).isSymLink());
        const QString target = QFileInfo(root.path() + "/kelvaro/" + row.target).absoluteFilePath();
        EXPECT_EQ(QFile::symLinkTarget(link), target);
        const QVariantMap written = readPlist(target);
        EXPECT_EQ(written.value("key").toLongLong(), 2);
        EXPECT_EQ(written.contains("other"), row.before == stored) << "the target's other keys are kept";
        if (row.aside) {
            EXPECT_EQ(kelvaro::test::readFile(root.path() + '/' + row.aside), row.before);
        }
        EXPECT_EQ(QDir(root.path() + "/kelvaro").entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                  (QStringList{".com.example.test.plist.lock", "com.example.test.plist"}));
        EXPECT_EQ(UserDefaults(link).integerForKey("key"), 2) << "a next start reads it through the link";
    }
}
