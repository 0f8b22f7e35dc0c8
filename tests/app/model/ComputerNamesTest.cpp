// How monitored computers are named apart: where each is reached, and the serial number where even that is
// alike.

#include "app/model/ComputerNames.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

using computernames::Computer;

TEST(ComputerNames, ThePlaceOfEachKindOfConnection)
{
    EXPECT_EQ(computernames::placeOf(nullptr), QString());
    EXPECT_EQ(computernames::placeOf(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")).get()),
              QStringLiteral("this computer"));
    EXPECT_EQ(computernames::placeOf(MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("rack.example"), 4001).get()),
              QStringLiteral("rack.example:4001"));
    EXPECT_EQ(computernames::placeOf(MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("::1"), 4001).get()),
              QStringLiteral("[::1]:4001"));
    const platform::NetService service(QStringLiteral("local."), MonitorConnectionInfo::remoteMonitoringBonjourServiceType(),
                                       QStringLiteral("Studio Mac Pro (2)"));
    EXPECT_EQ(computernames::placeOf(MonitorConnectionInfo::createForRemoteConnection(service).get()),
              QStringLiteral("Studio Mac Pro (2)"));
}

TEST(ComputerNames, OnlyComputersThatShareANameAreNamedByMore)
{
    struct Row {
        const char* name;
        QList<Computer> computers;
        QStringList names;
    };
    const Row rows[] = {
        {"none", {}, {}},
        {"names of their own",
         {{"Studio", "10.0.0.1:4001", "A"}, {"Desk", "10.0.0.1:4002", "B"}},
         {"Studio", "Desk"}},
        {"one name, places of their own",
         {{"Studio", "10.0.0.1:4001", "A"}, {"Desk", "10.0.0.2:4001", "B"}, {"Studio", "10.0.0.1:4002", "C"}},
         {"Studio (10.0.0.1:4001)", "Desk", "Studio (10.0.0.1:4002)"}},
        {"one name, one place",
         {{"Studio", "10.0.0.1:4001", "A"}, {"Studio", "10.0.0.1:4001", "B"}, {"Studio", "10.0.0.1:4002", "C"}},
         {"Studio (10.0.0.1:4001, S/N A)", "Studio (10.0.0.1:4001, S/N B)", "Studio (10.0.0.1:4002)"}},
        {"one name, no place known",
         {{"Studio", "", "A"}, {"Studio", "", "B"}},
         {"Studio (S/N A)", "Studio (S/N B)"}},
        // A name that reads like another's name and place is told apart from it.
        {"a name like a placed one",
         {{"Studio (10.0.0.1:4001)", "10.0.0.9:4001", "A"}, {"Studio", "10.0.0.1:4001", "B"}, {"Studio", "10.0.0.1:4002", "C"}},
         {"Studio (10.0.0.1:4001) (10.0.0.9:4001, S/N A)", "Studio (10.0.0.1:4001, S/N B)", "Studio (10.0.0.1:4002)"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QStringList names = computernames::distinctNames(row.computers);
        EXPECT_EQ(names, row.names);
        EXPECT_EQ(QSet<QString>(names.cbegin(), names.cend()).size(), names.size());
    }
}
