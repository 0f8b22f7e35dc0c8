// The text and CSV exports against golden files, byte for byte, also under a German locale: every
// identifier keeps its column, quoting after RFC 4180, combined exports and their fallback.

#include "tests/support/ProcessLocale.h"
#include "tests/windows/history/HistoryTestSupport.h"
#include "app/model/HistoryValueCollection.h"
#include "windows/history/HistoryExport.h"

using namespace historytest;

namespace {

const double n = std::nan("");

class ExportTest : public HistoryTest {
protected:
    static QString golden(const char* name)
    {
        const QString path = kelvaro::test::sourcePath(QStringLiteral("tests/windows/history/data/") + name);
        return QString::fromUtf8(kelvaro::test::readFile(path));
    }
    // The first identifier has no gauge, the third a shorter history that ends at now.
    std::shared_ptr<HistoryOverlayWindowController> mixedWindow()
    {
        controller_.identifiers.append("gone");
        addGauge("a", "CPU Die", 1, "C", values({40, n, 41.25}));
        addGauge("b", "Fan \"Left\", rear", 6, "rpm", values({1200, 1250.5}));
        return makeWindow("Mixed", {"gone", "a", "b"});
    }
};

} // namespace

TEST_F(ExportTest, OneWindowMatchesTheGoldenFiles)
{
    auto window = mixedWindow();
    EXPECT_EQ(window->textRepresentation(), golden("history-mixed.txt"));
    EXPECT_EQ(window->csvRepresentation(), golden("history-mixed.csv"));
    const auto matrix = window->allocatedHistoryValues(platform::currentDate());
    ASSERT_TRUE(matrix);
    EXPECT_EQ(matrix->gaugeCount, 3u);
    EXPECT_EQ(matrix->sampleCount, 3u);
    EXPECT_EQ(matrix->deltaTime, 2.0);
    EXPECT_EQ(matrix->values[0], HistoryValueCollection::kNoValue);
}

TEST_F(ExportTest, AGermanLocaleChangesNoByte)
{
    kelvaro::test::ProcessLocale locale("de_DE.UTF-8");
    if (!locale.active())
        GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto window = mixedWindow();
    EXPECT_EQ(window->textRepresentation(), golden("history-mixed.txt"));
    EXPECT_EQ(window->csvRepresentation(), golden("history-mixed.csv"));
}

TEST_F(ExportTest, OneIdentifierTwoSamplesAndTheQuotingOfNames)
{
    addGauge("a", "Letters", 1, "C", values({40, 41.5}));
    addGauge("q", "Say\"Hi", 1, "C", values({1, 2}));
    addGauge("t", "Tab\there", 1, "C", values({3, 4}));
    EXPECT_EQ(makeWindow("One", {"a"})->csvRepresentation(),
              "Time,Letters\n\"2026-01-01 11:47:20 +0000\",40.00\n\"2026-01-01 11:47:22 +0000\",41.50\n");
    const QString header = makeWindow("Quotes", {"q", "t"})->csvRepresentation().section('\n', 0, 0);
    EXPECT_EQ(header, "Time,\"Say\"\"Hi\",\"Tab\there\"");
    EXPECT_EQ(makeWindow("Empty", {})->textRepresentation(), "");
    HistoryOverlayWindowController unbound(defaults_);
    EXPECT_EQ(unbound.csvRepresentation(), "");
}

TEST_F(ExportTest, CombinedExportOfAMasterAndItsOverlay)
{
    addGauge("t", "CPU", 1, "C", values({40, 42, 44}));
    addGauge("f", "Fan", 6, "rpm", values({1200, 1300, 1250}));
    auto master = makeWindow("Temperatures", {"t"});
    auto overlay = makeWindow("Fans", {"f"});
    master->preferences()->overlayReferences() = QStringList{overlay->preferences()->overlayIdentifier()};
    master->openWindow();
    ASSERT_TRUE(overlay->isInOverlayMode());
    EXPECT_EQ(master->textRepresentation(), golden("history-combined.txt"));
    EXPECT_EQ(master->csvRepresentation(), golden("history-combined.csv"));
    const auto collection = master->valueCollectionFromHistoryWindowController(overlay.get(), platform::currentDate());
    ASSERT_TRUE(collection);
    EXPECT_EQ(collection->sensorNames(), QStringList{"f"});
    EXPECT_EQ(collection->valueAt(0, 1), 1300);
    EXPECT_FALSE(master->valueCollectionFromHistoryWindowController(nullptr, platform::currentDate()));

    // An overlay with another number of samples: one log line and the master alone.
    controller_.histories["f"] = values({1200, 1300});
    const QString single = master->HistoryWindowController::csvRepresentation();
    EXPECT_EQ(master->csvRepresentation(), single);
    EXPECT_EQ(kelvaro::test::log().count("Internal failure to collect data for combined export of history overlay "
                                         "windows. Trying simple export."),
              1);
    EXPECT_TRUE(single.startsWith("Time,CPU\n"));
}

TEST(HistoryExport, DatesAreUtcAndNumbersNeverTakeTheUsersComma)
{
    const QDateTime local(QDate(2024, 5, 1), QTime(14, 0, 5), Qt::OffsetFromUTC, 7200);
    EXPECT_EQ(HistoryExport::dateText(local), "2024-05-01 12:00:05 +0000");
    HistoryExport::Table table{{{"A", "V"}}, {12.5, HistoryValueCollection::kNoValue}, 2, local, 0.5};
    EXPECT_EQ(HistoryExport::csv("Time,", table),
              "Time,A\n\"2024-05-01 12:00:05 +0000\",12.50\n\"2024-05-01 12:00:05 +0000\",*\n");
}

// Sensors of two computers with one name get that computer's name in their CSV headers, in one window and
// across a master and its overlay; names that occur once stay as they are.
TEST_F(ExportTest, RepeatedNamesInCsvHeadersNameTheirComputer)
{
    class OfficeComputer final : public FakeSource {
    public:
        using FakeSource::FakeSource;
        QString machineSerialNumber() override { return QStringLiteral("C03"); }
        QString machineName() override { return QStringLiteral("Office Mac"); }
    };
    const auto addRemote = [this](const QString& id, const QString& name, const QByteArray& history) {
        sources_.append(std::make_shared<OfficeComputer>(1, "C"));
        auto gauge = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("S1"), sources_.last());
        ASSERT_TRUE(gauge);
        gauge->setCustomName(name);
        controller_.identifiers.append(id);
        controller_.gauges.insert(id, gauge);
        controller_.histories.insert(id, history);
    };
    addGauge("local", "CPU Die", 1, "C", values({40, 41}));
    addRemote("remote", "CPU Die", values({50, 51}));
    addGauge("fan", "Fan", 6, "rpm", values({1200, 1300}));
    struct Row {
        QStringList identifiers;
        const char* header;
    };
    const Row rows[] = {
        {{"local", "remote", "fan"}, R"x(Time,"CPU Die (Test computer)","CPU Die (Office Mac)",Fan)x"},
        {{"local", "fan"}, R"x(Time,"CPU Die",Fan)x"},
    };
    int windows = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.header);
        EXPECT_EQ(makeWindow(QStringLiteral("W%1").arg(++windows), row.identifiers)->csvRepresentation().section('\n', 0, 0), row.header);
    }
    auto master = makeWindow("Local", {"local"});
    auto overlay = makeWindow("Office", {"remote"});
    master->preferences()->overlayReferences() = QStringList{overlay->preferences()->overlayIdentifier()};
    master->openWindow();
    EXPECT_EQ(master->csvRepresentation().section('\n', 0, 0), R"x(Time,"CPU Die (Test computer)","CPU Die (Office Mac)")x");
}
