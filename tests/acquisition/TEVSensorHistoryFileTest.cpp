// The history file on its own: checks at every level, salvage of damaged files, interrupted saves,
// concurrent writers and the lock.

#include "acquisition/TEVSensorHistoryFile.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/Values.h"
#include "tests/sensors/SensorTestSupport.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <unistd.h>

using Status = TEVSensorHistoryFile::ReadResult::Status;
using Histories = TEVSensorHistoryFile::Histories;
namespace values = platform::values;

namespace {

Histories histories(qint64 raw, quint64 count = 100)
{
    auto history = TEVSensorHistory::create(count, 60);
    history->setPresentRawValue(raw);
    return {{QStringLiteral("cpu"), history}};
}

// The newest slot of computer `serial`'s "cpu" history; -2 when there is none.
qint64 newest(const TEVSensorHistoryFile::ReadResult& read, const char* serial)
{
    const auto history = read.entries.value(QString::fromLatin1(serial)).value(QStringLiteral("cpu"));
    if (!history)
        return -2;
    const QByteArray data = history->rawValueDataBetweenNowAndDate(history->currentTime());
    return data.size() == sizeof(qint64) ? qFromUnaligned<qint64>(data.constData()) : -2;
}

// A history archive of capacity 0: sound as an archive, refused by the history decoder.
platform::ObjectRef unsoundHistory()
{
    return std::make_shared<sensortest::ForgedArchive>(QStringLiteral("TEVSensorHistory"), [](platform::Coder& coder) {
        const quint32 count = 0;
        const double step = 60;
        const qint32 index = 0;
        coder.encodeValueOfObjCType("I", &count);
        coder.encodeValueOfObjCType("d", &step);
        coder.encodeArrayOfObjCType('i', 0, nullptr);
        coder.encodeValueOfObjCType("i", &index);
        coder.encodeObject(values::fromDate(kelvaro::test::clock()->now()));
    });
}

} // namespace

TEST(TEVSensorHistoryFile, RoundTripKeepsEveryComputerAndHistory)
{
    TEVSensorHistoryFile::Entries entries{{QStringLiteral("A"), histories(1)}, {QStringLiteral("B"), histories(2)}};
    const auto read = TEVSensorHistoryFile::decode(TEVSensorHistoryFile::encode(entries));
    EXPECT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.skipped, 0);
    EXPECT_EQ(newest(read, "A"), 1);
    EXPECT_EQ(newest(read, "B"), 2);
    EXPECT_EQ(read.entries[QStringLiteral("B")][QStringLiteral("cpu")]->valueCount(), 100u);
}

TEST(TEVSensorHistoryFile, SkipsWhatIsNoSoundHistoryAndKeepsTheRest)
{
    struct Row {
        const char* what;
        QVariantMap root;
        Status status;
        int skipped;
    };
    const QVariant good = values::fromObject(histories(5).value(QStringLiteral("cpu")));
    const Row rows[] = {
        {"history that fails its bounds",
         {{QStringLiteral("A"), QVariantMap{{QStringLiteral("cpu"), good}, {QStringLiteral("bad"), values::fromObject(unsoundHistory())}}}},
         Status::Salvaged, 1},
        {"string in place of a history",
         {{QStringLiteral("A"), QVariantMap{{QStringLiteral("cpu"), good}, {QStringLiteral("bad"), QStringLiteral("x")}}}},
         Status::Salvaged, 1},
        {"dictionary in place of a history",
         {{QStringLiteral("A"), QVariantMap{{QStringLiteral("cpu"), good}, {QStringLiteral("bad"), QVariantMap{}}}}},
         Status::Salvaged, 1},
        {"computer entry that is no dictionary",
         {{QStringLiteral("A"), QVariantMap{{QStringLiteral("cpu"), good}}}, {QStringLiteral("B"), qint64(3)}},
         Status::Salvaged, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto read = TEVSensorHistoryFile::decode(platform::SequentialArchiver::archivedDataWithRootObject(row.root));
        EXPECT_EQ(read.status, row.status);
        EXPECT_EQ(read.skipped, row.skipped);
        EXPECT_EQ(newest(read, "A"), 5);
        EXPECT_FALSE(read.entries.contains(QStringLiteral("B")));
    }
    const auto array = TEVSensorHistoryFile::decode(platform::SequentialArchiver::archivedDataWithRootObject(QVariantList{}));
    EXPECT_EQ(array.status, Status::Corrupt);
    EXPECT_EQ(TEVSensorHistoryFile::decode("not an archive").status, Status::Corrupt);
}

TEST(TEVSensorHistoryFile, DamagedFileIsKeptAsideAndItsSoundEntriesCarriedOver)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SensorHistory.tevshf"));
    const QVariantMap root{
        {QStringLiteral("B"), QVariantMap{{QStringLiteral("cpu"), values::fromObject(histories(8).value(QStringLiteral("cpu")))},
                                          {QStringLiteral("bad"), values::fromObject(unsoundHistory())}}}};
    const QByteArray damaged = platform::SequentialArchiver::archivedDataWithRootObject(root);
    kelvaro::test::writeFile(path, damaged);

    TEVSensorHistoryFile file(path);
    kelvaro::test::log().clear();
    ASSERT_TRUE(file.saveEntry(QStringLiteral("A"), histories(1)));
    const auto read = file.read();
    EXPECT_EQ(read.status, Status::Read);
    EXPECT_EQ(newest(read, "A"), 1);
    EXPECT_EQ(newest(read, "B"), 8);
    const QStringList backups = QDir(dir.path()).entryList({QStringLiteral("*.unreadable-*")}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_EQ(kelvaro::test::readFile(dir.filePath(backups.first())), damaged);
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("TEVSensorHistoryFile: the damaged %1 (").arg(path)));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral(") was moved to %1; 1 computers' histories kept\n").arg(backups.first())));
}

TEST(TEVSensorHistoryFile, TruncatedFileKeepsTheHistoriesCompleteBeforeTheCut)
{
    TEVSensorHistoryFile::Entries entries;
    for (const char* serial : {"A", "B", "C"}) {
        Histories two = histories(serial[0]);
        two.insert(QStringLiteral("gpu"), histories(serial[0] + 100).value(QStringLiteral("cpu")));
        entries.insert(QString::fromLatin1(serial), two);
    }
    const QByteArray whole = TEVSensorHistoryFile::encode(entries);
    qsizetype previous = 0;
    for (const double share : {0.3, 0.5, 0.7, 0.9, 0.999}) {
        const qsizetype cut = qsizetype(double(whole.size()) * share);
        const auto read = TEVSensorHistoryFile::decode(whole.left(cut));
        ASSERT_EQ(read.status, Status::Salvaged) << cut;
        qsizetype kept = 0;
        for (auto computer = read.entries.cbegin(); computer != read.entries.cend(); ++computer) {
            for (auto sensor = computer->cbegin(); sensor != computer->cend(); ++sensor) {
                const auto& original = entries[computer.key()][sensor.key()];
                EXPECT_EQ(TEVSensorHistoryFile::encode({{computer.key(), {{sensor.key(), sensor.value()}}}}),
                          TEVSensorHistoryFile::encode({{computer.key(), {{sensor.key(), original}}}}))
                    << "cut at " << cut << ": " << qPrintable(computer.key()) << " " << qPrintable(sensor.key());
                ++kept;
            }
        }
        EXPECT_GE(kept, std::max<qsizetype>(previous, 1)) << cut;
        previous = kept;
    }
    EXPECT_EQ(previous, 6); // only the end markers were cut
    EXPECT_EQ(TEVSensorHistoryFile::decode(whole.left(20)).entries.size(), 0);
}

// A week at one value per minute for 100 sensors. Small values take one byte a slot, the densest file we
// write: its generic decoding (the salvage of a damaged file) expands to 16 per byte, a quarter of the
// decoders' expansion budget.
TEST(TEVSensorHistoryFile, WeekLongHistoryOfAHundredSensorsRoundTripsAndIsSalvaged)
{
    Histories week;
    for (int s = 0; s < 100; ++s) {
        auto history = TEVSensorHistory::create(10080, 60);
        for (int i = 0; i < 10080; ++i)
            history->setPresentRawValue((s + i) % 100);
        week.insert(QStringLiteral("SMC.T%1").arg(s, 3, 10, QLatin1Char('0')), history);
    }
    const QByteArray whole = TEVSensorHistoryFile::encode({{QStringLiteral("C02ABCDEFGH"), week}});
    ASSERT_LT(whole.size(), 1100 * 1000);

    const auto read = TEVSensorHistoryFile::decode(whole);
    ASSERT_EQ(read.status, Status::Read) << qPrintable(read.error);
    const Histories back = read.entries.value(QStringLiteral("C02ABCDEFGH"));
    ASSERT_EQ(back.size(), 100);
    for (const QString& sensor : {QStringLiteral("SMC.T000"), QStringLiteral("SMC.T099")}) {
        SCOPED_TRACE(qPrintable(sensor));
        ASSERT_TRUE(back.value(sensor));
        EXPECT_EQ(TEVSensorHistoryFile::encode({{QStringLiteral("x"), {{sensor, back.value(sensor)}}}}),
                  TEVSensorHistoryFile::encode({{QStringLiteral("x"), {{sensor, week.value(sensor)}}}}));
    }

    const auto salvaged = TEVSensorHistoryFile::decode(whole.left(whole.size() - 100));
    ASSERT_EQ(salvaged.status, Status::Salvaged) << qPrintable(salvaged.error);
    EXPECT_EQ(salvaged.entries.value(QStringLiteral("C02ABCDEFGH")).size(), 99);
}

TEST(TEVSensorHistoryFile, SaveKilledBeforeItsRenameLeavesThePreviousFileIntact)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SensorHistory.tevshf"));
    TEVSensorHistoryFile file(path);
    ASSERT_TRUE(file.saveEntry(QStringLiteral("A"), histories(1)));
    const QByteArray before = kelvaro::test::readFile(path);

    // What a process killed mid-write leaves: half of the new archive in a temporary file, no rename.
    file.setWriter([&](const QString& target, const QByteArray& bytes) {
        kelvaro::test::writeFile(QFileInfo(target).absolutePath() + QStringLiteral("/.SensorHistory.tevshf.k1ll3d"),
                                 bytes.left(bytes.size() / 2));
        return platform::FileWriteResult{false, QStringLiteral("killed")};
    });
    EXPECT_FALSE(file.saveEntry(QStringLiteral("B"), histories(2)));
    EXPECT_EQ(kelvaro::test::readFile(path), before);

    file.setWriter({});
    ASSERT_TRUE(file.saveEntry(QStringLiteral("B"), histories(2)));
    const auto read = file.read();
    EXPECT_EQ(read.status, Status::Read);
    EXPECT_EQ(newest(read, "A"), 1);
    EXPECT_EQ(newest(read, "B"), 2);
    // The next save removed what the killed one left; the lock file stays.
    const QStringList hidden{QStringLiteral(".SensorHistory.tevshf.*")};
    EXPECT_EQ(QDir(dir.path()).entryList(hidden, QDir::Files | QDir::Hidden), QStringList{".SensorHistory.tevshf.lock"});

    // At start, unless a save runs now.
    const QString left = dir.filePath(QStringLiteral(".SensorHistory.tevshf.0tmp1"));
    kelvaro::test::writeFile(left, "partial");
    const int held = ::open(QFile::encodeName(dir.filePath(QStringLiteral(".SensorHistory.tevshf.lock"))).constData(), O_RDWR);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(file.removeStaleTemporaryFiles(), 0);
    EXPECT_TRUE(QFile::exists(left));
    ::close(held);
    EXPECT_EQ(file.removeStaleTemporaryFiles(), 1);
    EXPECT_FALSE(QFile::exists(left));
    EXPECT_EQ(file.read().status, Status::Read);
}

TEST(TEVSensorHistoryFile, ConcurrentWritersNeverLoseAnEntry)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SensorHistory.tevshf"));
    constexpr int writers = 4;
    constexpr int savesEach = 8;
    std::atomic<int> failures{0};
    std::vector<QThread*> threads;
    for (int w = 0; w < writers; ++w) {
        threads.push_back(QThread::create([&, w] {
            TEVSensorHistoryFile file(path); // one per writer, as two programs would have
            for (int n = 0; n < savesEach; ++n) {
                if (!file.saveEntry(QStringLiteral("S%1").arg(w), histories(w * 100 + n)))
                    ++failures;
            }
        }));
    }
    for (auto* thread : threads)
        thread->start();
    for (auto* thread : threads) {
        EXPECT_TRUE(thread->wait(60000));
        delete thread;
    }
    EXPECT_EQ(failures, 0);
    const auto read = TEVSensorHistoryFile(path).read();
    ASSERT_EQ(read.entries.size(), writers);
    for (int w = 0; w < writers; ++w)
        EXPECT_EQ(newest(read, qPrintable(QStringLiteral("S%1").arg(w))), w * 100 + savesEach - 1);
}

TEST(TEVSensorHistoryFile, UnreadableFileOrHeldLockFailsTheSaveAndChangesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SensorHistory.tevshf"));
    QDir().mkpath(path); // a folder where the file should be: exists, cannot be read
    TEVSensorHistoryFile blocked(path);
    EXPECT_EQ(blocked.read().status, Status::Unreadable);
    const auto refused = blocked.saveEntry(QStringLiteral("A"), histories(1));
    EXPECT_FALSE(refused);
    EXPECT_TRUE(refused.error.contains(QStringLiteral("left as it is")));
    EXPECT_TRUE(QFileInfo(path).isDir());

    const QString other = dir.filePath(QStringLiteral("other.tevshf"));
    const int fd = ::open(QFile::encodeName(dir.filePath(QStringLiteral(".other.tevshf.lock"))).constData(),
                          O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0); // another process saving
    TEVSensorHistoryFile waiting(other);
    waiting.setLockTimeout(0.05);
    const auto timedOut = waiting.saveEntry(QStringLiteral("A"), histories(1));
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(timedOut.error.contains(QStringLiteral("another writer holds the lock")));
    EXPECT_FALSE(QFile::exists(other));
    ::close(fd);
    EXPECT_TRUE(waiting.saveEntry(QStringLiteral("A"), histories(1)));
}

TEST(TEVSensorHistoryFile, FreshReaderReadsBackWhatASaveWrote)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SensorHistory.tevshf"));
    auto history = TEVSensorHistory::create(30, 0.25);
    history->setPresentRawValue(-12345);
    ASSERT_TRUE(TEVSensorHistoryFile(path).saveEntry(QStringLiteral("A"), {{QStringLiteral("cpu"), history}}));

    const auto read = TEVSensorHistoryFile(path).read();
    ASSERT_EQ(read.status, Status::Read);
    const auto back = read.entries.value(QStringLiteral("A")).value(QStringLiteral("cpu"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->timeDelta(), 0.25);
    EXPECT_EQ(back->valueCount(), 30u);
    EXPECT_EQ(back->currentTime(), history->currentTime());
    EXPECT_EQ(newest(read, "A"), -12345);
}

TEST(TEVSensorHistoryFile, WhatIsNoFileOrLargerThanAnyHistoryIsRefusedUnreadAndKept)
{
    // The FIFO comes first: a reader that waits for its writer hangs there, before /dev/zero could fill memory.
    struct Row {
        const char* what;
        std::function<bool(const QString& path)> make;
        const char* reason;
    };
    const Row rows[] = {
        {"a FIFO without a writer", [](const QString& path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; },
         "it is a FIFO, not a file"},
        {"a link to /dev/zero", [](const QString& path) { return QFile::link(QStringLiteral("/dev/zero"), path); },
         "it is a device, not a file"},
        {"a folder", [](const QString& path) { return QDir().mkpath(path); }, "it is a folder, not a file"},
        {"a sparse file past the bound",
         [](const QString& path) {
             QFile file(path);
             return file.open(QIODevice::WriteOnly) && file.resize(TEVSensorHistoryFile::maximumFileBytes + 1);
         },
         "it is larger than 536870912 bytes"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("SensorHistory.tevshf"));
        ASSERT_TRUE(row.make(path));
        const QFileInfo before(path);
        TEVSensorHistoryFile file(path);
        const auto read = file.read();
        EXPECT_EQ(read.status, Status::Unreadable);
        EXPECT_EQ(read.error, QLatin1String(row.reason));
        const auto refused = file.saveEntry(QStringLiteral("A"), histories(1));
        EXPECT_FALSE(refused);
        EXPECT_TRUE(refused.error.contains(QLatin1String(row.reason))) << refused.error.toStdString();
        EXPECT_EQ(QFileInfo(path).isSymLink(), before.isSymLink());
        EXPECT_EQ(QFileInfo(path).isDir(), before.isDir());
        EXPECT_EQ(QFileInfo(path).size(), before.size());
    }
}

TEST(TEVSensorHistoryFile, AFileKeptThroughALinkIsSavedSetAsideAndCleanedUpWhereTheLinkLeads)
{
    const QByteArray kept = TEVSensorHistoryFile::encode({{QStringLiteral("B"), histories(8)}});
    const QByteArray damaged = platform::SequentialArchiver::archivedDataWithRootObject(QVariantMap{
        {QStringLiteral("B"), QVariantMap{{QStringLiteral("cpu"), values::fromObject(histories(8).value(QStringLiteral("cpu")))},
                                          {QStringLiteral("bad"), values::fromObject(unsoundHistory())}}}});
    struct Row {
        const char* what;
        const char* target; // the link's, from the data folder
        QByteArray before;  // the target's; null: none
        bool aside;         // a damaged target kept beside it
        const char* error;  // why the save fails; null: it succeeds
    };
    const Row rows[] = {
        {"a file in another folder", "../sync/history", kept, false, nullptr},
        {"a missing file", "../sync/history", {}, false, nullptr},
        {"a damaged file", "../sync/history", damaged, true, nullptr},
        {"a folder that does not exist", "../unmounted/history", {}, false, "which does not exist"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir root;
        const QString link = root.filePath(QStringLiteral("Kelvaro/SensorHistory.tevshf"));
        const QString target = QFileInfo(root.filePath(QStringLiteral("Kelvaro/")) + QString::fromUtf8(row.target)).absoluteFilePath();
        ASSERT_TRUE(QDir().mkpath(root.filePath(QStringLiteral("Kelvaro"))) && QDir().mkpath(root.filePath(QStringLiteral("sync"))));
        ASSERT_TRUE(QFile::link(QString::fromUtf8(row.target), link));
        if (!row.before.isNull())
            kelvaro::test::writeFile(target, row.before);
        // What a save killed before its rename left beside the target.
        const QString left = root.filePath(QStringLiteral("sync/.history.k1ll3d"));
        kelvaro::test::writeFile(left, "partial");

        TEVSensorHistoryFile file(link);
        const platform::FileWriteResult saved = file.saveEntry(QStringLiteral("A"), histories(1));
        EXPECT_EQ(QFile::symLinkTarget(link), target) << "the link stays as it was";
        if (row.error) {
            EXPECT_FALSE(saved);
            EXPECT_TRUE(saved.error.contains(QLatin1String(row.error))) << saved.error.toStdString();
            EXPECT_TRUE(QFile::exists(left));
            continue;
        }
        ASSERT_TRUE(saved) << saved.error.toStdString();
        const auto read = TEVSensorHistoryFile(target).read();
        EXPECT_EQ(read.status, Status::Read);
        EXPECT_EQ(newest(read, "A"), 1);
        EXPECT_EQ(newest(read, "B"), row.before.isNull() ? -2 : 8) << "the other computer's entry is kept";
        EXPECT_FALSE(QFile::exists(left));
        const QStringList backups = QDir(root.filePath(QStringLiteral("sync"))).entryList({QStringLiteral("history.unreadable-*")}, QDir::Files);
        EXPECT_EQ(backups.size(), row.aside ? 1 : 0);
        if (row.aside && !backups.isEmpty()) {
            EXPECT_EQ(kelvaro::test::readFile(root.filePath(QStringLiteral("sync/")) + backups.first()), row.before);
        }
        EXPECT_EQ(QDir(root.filePath(QStringLiteral("Kelvaro"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                  (QStringList{".SensorHistory.tevshf.lock", "SensorHistory.tevshf"}));
    }
}
