#include "platform/foundation/SimulatedComputer.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::SimulatedComputer;
namespace values = platform::values;

namespace {

void writeComputer(const QString& dir, const QByteArray& plistBody, bool withRoot = true)
{
    QDir().mkpath(dir);
    if (withRoot)
        QDir().mkpath(dir + "/root");
    QFile file(dir + "/computer.plist");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + plistBody + "\n</plist>\n");
}

struct SelectionGuard {
    ~SelectionGuard() { SimulatedComputer::setCurrent(nullptr); }
};

} // namespace

TEST(SimulatedComputer, RejectsUnknownKeysAndWrongTypesNamingTheKeyPath)
{
    struct Row {
        const char* key;
        QVariant value;
        const char* error;
    };
    const QVariantMap entry{{"IOClass", "AppleSMC"}};
    const Row rows[] = {
        {"Battery", values::fromBool(true), "Battery: unknown key"},
        {"Name", values::fromSigned(5), "Name: expected a string, found signed"},
        {"Description", values::fromArray({}), "Description: expected a string, found array"},
        {"Registry", values::fromDictionary({}), "Registry: expected an array, found dictionary"},
        {"Registry", values::fromArray({entry, "AppleSMC"}), "Registry[1]: expected a dictionary, found string"},
        {"SMC", values::fromArray({}), "SMC: expected a dictionary, found array"},
        {"ATA", values::fromString("sda"), "ATA: expected a dictionary, found string"},
        {"IdleTime", values::fromBool(false), "IdleTime: expected a number, found bool"},
        {"IdleTime", values::fromString("12"), "IdleTime: expected a number, found string"},
        {"Machine", values::fromReal(1.0), "Machine: expected a dictionary, found real"},
    };
    for (const Row& row : rows) {
        const QVariantMap plist{{"Name", "Odd"}, {row.key, row.value}};
        const SimulatedComputer::LoadResult result = SimulatedComputer::fromDictionary(plist, "/srv/odd");
        EXPECT_EQ(result.computer, nullptr) << row.error;
        EXPECT_EQ(result.error, row.error);
    }
}

TEST(SimulatedComputer, LoadRejectsKeysGivenTwiceAndBrokenLayout)
{
    QTemporaryDir dir;
    struct Row {
        const char* name;
        QByteArray body;
        bool withRoot;
        const char* error; // the end of the message
    };
    const Row rows[] = {
        {"twiceTop", "<dict><key>Name</key><string>a</string><key>Name</key><string>b</string></dict>", true,
         "computer.plist: Name: key given twice"},
        {"twiceNested",
         "<dict><key>Registry</key><array><dict/><dict><key>IOClass</key><string>a</string>"
         "<key>IOClass</key><string>b</string></dict></array></dict>",
         true, "computer.plist: Registry[1].IOClass: key given twice"},
        {"twiceDeep", "<dict><key>Machine</key><dict><key>A</key><array><true/><dict><key>B</key><integer>1</integer>"
                      "<key>B</key><integer>2</integer></dict></array></dict></dict>",
         true, "computer.plist: Machine.A[1].B: key given twice"},
        {"notDict", "<array/>", true, "computer.plist: the top level is array, not a dictionary"},
        {"garbage", "<dict><key>Name</key>", true, ""},
        {"noRoot", "<dict/>", false, "/noRoot/root: no such folder"},
        {"unknownInFile", "<dict><key>Sensors</key><dict/></dict>", true, "computer.plist: Sensors: unknown key"},
        {"tooLarge", "<dict><key>Name</key><string>" + QByteArray(8 * 1024 * 1024, 'x') + "</string></dict>", true,
         "computer.plist: larger than the 8388608 bytes a simulated computer may have"},
        {"integerBeyond64Bits", "<dict><key>Machine</key><dict><key>A</key><integer>-99999999999999999999</integer></dict></dict>",
         true, "computer.plist: property list holds an integer out of the 64-bit range: -99999999999999999999"},
    };
    for (const Row& row : rows) {
        const QString path = dir.path() + '/' + row.name;
        writeComputer(path, row.body, row.withRoot);
        const SimulatedComputer::LoadResult result = SimulatedComputer::load(path);
        EXPECT_EQ(result.computer, nullptr) << row.name;
        EXPECT_TRUE(result.error.endsWith(row.error)) << row.name << ": " << result.error.toStdString();
        EXPECT_FALSE(result.error.isEmpty()) << row.name;
    }
    const SimulatedComputer::LoadResult missing = SimulatedComputer::load(dir.path() + "/absent");
    EXPECT_EQ(missing.computer, nullptr);
    EXPECT_TRUE(missing.error.contains("absent/computer.plist")) << missing.error.toStdString();
}

TEST(SimulatedComputer, EnvironmentSelectsComputerAndItsHostRoot)
{
    SelectionGuard guard;
    kelvaro::test::ScopedEnvironment env;
    const QString vm = kelvaro::test::sourcePath("fixtures/computers/vm");
    env.set("KELVARO_SIMULATED_COMPUTER", vm.toUtf8());
    SimulatedComputer::setCurrent(nullptr);

    EXPECT_TRUE(SimulatedComputer::isSelected());
    const auto computer = SimulatedComputer::current();
    ASSERT_TRUE(computer);
    EXPECT_EQ(computer->name(), "Virtual Machine");
    EXPECT_EQ(platform::HostRoot::current()->root(), QDir::cleanPath(vm) + "/root");
    EXPECT_EQ(SimulatedComputer::current(), computer) << "loaded once";

    // Selecting in code moves the host root too; clearing returns both to the environment.
    const auto odd = SimulatedComputer::fromDictionary({{"Name", "Odd"}}, "/srv/odd").computer;
    SimulatedComputer::setCurrent(odd);
    EXPECT_EQ(SimulatedComputer::current(), odd);
    EXPECT_EQ(platform::HostRoot::current()->root(), "/srv/odd/root");
    env.unset("KELVARO_SIMULATED_COMPUTER");
    SimulatedComputer::setCurrent(nullptr);
    EXPECT_FALSE(SimulatedComputer::isSelected());
    EXPECT_EQ(SimulatedComputer::current(), nullptr);
    EXPECT_TRUE(platform::HostRoot::current()->isLive());
}

TEST(SimulatedComputer, BrokenSelectionIsLoggedOnceAndStaysSelected)
{
    SelectionGuard guard;
    QTemporaryDir dir;
    writeComputer(dir.path(), "<dict><key>Bogus</key><true/></dict>");
    kelvaro::test::ScopedEnvironment env;
    env.set("KELVARO_SIMULATED_COMPUTER", dir.path().toUtf8());
    SimulatedComputer::setCurrent(nullptr);

    EXPECT_EQ(SimulatedComputer::current(), nullptr);
    EXPECT_EQ(SimulatedComputer::current(), nullptr);
    EXPECT_TRUE(SimulatedComputer::isSelected()) << "backends must not fall back to the live machine";
    EXPECT_EQ(kelvaro::test::log().count("SimulatedComputer: cannot load the simulated computer:"), 1);
    EXPECT_TRUE(kelvaro::test::log().contains("Bogus: unknown key"));
}

TEST(SimulatedComputer, EveryFixtureComputerLoads)
{
    const QDir computers(kelvaro::test::sourcePath("fixtures/computers"));
    const QStringList names = computers.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    EXPECT_GE(names.size(), 4);
    for (const QString& name : names) {
        const SimulatedComputer::LoadResult result = SimulatedComputer::load(computers.filePath(name));
        ASSERT_TRUE(result.computer) << result.error.toStdString();
        EXPECT_FALSE(result.computer->name().isEmpty()) << name.toStdString();
        const platform::HostRoot root(result.computer->rootDirectory());
        EXPECT_TRUE(root.readTextFile("/etc/os-release").value_or("").contains("PRETTY_NAME=")) << name.toStdString();
    }
}
