#include "app/model/MachinePrefsImportChoice.h"
#include "app/model/MachineSpecifier.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Values.h"
#include "tests/support/FakeNameResolver.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

namespace values = platform::values;

QVariantMap specifierDictionary(const QVariant& name, const QVariant& serial)
{
    QVariantMap dictionary;
    if (name.isValid())
        dictionary.insert(QStringLiteral("HostOrComputerName"), name);
    if (serial.isValid())
        dictionary.insert(QStringLiteral("SerialNumber"), serial);
    return dictionary;
}

TEST(MachineSpecifier, DictionaryFormRoundTripsAndEqualityIgnoresTheName)
{
    const MachineSpecifier studio(QStringLiteral("studio"), QStringLiteral("C02XK1ABJGH5"));
    const QVariantMap dictionary = studio.dictionaryRepresentation();
    EXPECT_EQ(dictionary.size(), 2);
    const auto copy = MachineSpecifier::createWithDictionary(dictionary);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->hostname(), QStringLiteral("studio"));
    EXPECT_EQ(copy->serialNumber(), QStringLiteral("C02XK1ABJGH5"));

    EXPECT_EQ(studio, MachineSpecifier(QStringLiteral("renamed"), QStringLiteral("C02XK1ABJGH5")));
    EXPECT_FALSE(studio == MachineSpecifier(QStringLiteral("studio"), QStringLiteral("C02XK1ABJGH6")));
}

TEST(MachineSpecifier, DictionaryNeedsBothStrings)
{
    const QVariant name = values::fromString(QStringLiteral("lab"));
    const QVariant serial = values::fromString(QStringLiteral("W8831"));
    const QVariant rows[] = {
        specifierDictionary(name, {}),
        specifierDictionary({}, serial),
        specifierDictionary(name, values::fromSigned(8831)),
        specifierDictionary(values::fromBool(true), serial),
        values::fromString(QStringLiteral("W8831")),
        QVariant(),
    };
    for (const QVariant& row : rows)
        EXPECT_FALSE(MachineSpecifier::createWithDictionary(row)) << values::kindName(values::kindOf(row));
    EXPECT_TRUE(MachineSpecifier::createWithDictionary(specifierDictionary(values::fromString(QString()), serial)));
}

TEST(MachineSpecifier, ArrayLeavesOutEntriesThatGiveNoSpecifier)
{
    EXPECT_FALSE(MachineSpecifier::specifierArrayForDictionaryArray(QVariant()));
    EXPECT_FALSE(MachineSpecifier::specifierArrayForDictionaryArray(values::fromDictionary({})));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("MachineSpecifier: ")));

    const QVariantList stored{
        specifierDictionary(values::fromString(QStringLiteral("one")), values::fromString(QStringLiteral("S1"))),
        specifierDictionary(values::fromString(QStringLiteral("no serial")), {}),
        values::fromSigned(3),
        specifierDictionary(values::fromString(QStringLiteral("two")), values::fromString(QStringLiteral("S2"))),
    };
    const auto specifiers = MachineSpecifier::specifierArrayForDictionaryArray(values::fromArray(stored));
    ASSERT_TRUE(specifiers);
    ASSERT_EQ(specifiers->size(), 2);
    EXPECT_EQ(specifiers->at(0)->serialNumber(), QStringLiteral("S1"));
    EXPECT_EQ(specifiers->at(1)->serialNumber(), QStringLiteral("S2"));
}

TEST(MachineSpecifier, LocalNameFallsBackToTheComputerName)
{
    const std::pair<const char*, const char*> rows[] = {
        {"studio.example.net", "studio.example.net"},
        {"", "Office Mac"},
        {"192.0.2.7", "Office Mac"},
        {"fe80::1c2a:3ff:fe44:5566", "Office Mac"},
        {"<?>", "Office Mac"},
    };
    for (const auto& [representation, expected] : rows) {
        EXPECT_EQ(MachineSpecifier::localNameFromHostRepresentation(QString::fromLatin1(representation),
                                                                     QStringLiteral("Office Mac")),
                  QString::fromLatin1(expected))
            << representation;
    }
}

class LocalMachineSpecifierTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root_.isValid());
        platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(root_.path()));
    }
    void TearDown() override
    {
        if (resolver_)
            resolver_->setGateClosed(false);
        platform::NameResolver::setShared(nullptr);
        platform::HostRoot::setCurrent(nullptr);
    }
    // Background lookups wait at the closed gate, so only the quick lookup names the local host.
    void installResolver(const kelvaro::test::FakeNameResolver::Answers& answers)
    {
        if (resolver_)
            resolver_->setGateClosed(false);
        resolver_ = std::make_shared<kelvaro::test::FakeNameResolver>(answers);
        resolver_->setGateClosed(true);
        platform::NameResolver::setShared(resolver_);
    }
    QTemporaryDir root_;
    std::shared_ptr<kelvaro::test::FakeNameResolver> resolver_;
};

TEST_F(LocalMachineSpecifierTest, NamedByHostNameElseByComputerName)
{
    kelvaro::test::writeFile(root_.filePath(QStringLiteral("etc/machine-info")), "PRETTY_HOSTNAME=\"Office Mac\"\n");
    installResolver({});
    EXPECT_FALSE(MachineSpecifier::createWithSerialNumber(QString()));
    // Without a host name only the loopback alias is known, which names nothing.
    auto specifier = MachineSpecifier::createWithSerialNumber(QStringLiteral("C02XK1ABJGH5"));
    ASSERT_TRUE(specifier);
    EXPECT_EQ(specifier->hostname(), QStringLiteral("Office Mac"));
    EXPECT_EQ(specifier->serialNumber(), QStringLiteral("C02XK1ABJGH5"));

    kelvaro::test::FakeNameResolver::Answers named;
    named.hostName = QStringLiteral("studio");
    installResolver(named);
    specifier = MachineSpecifier::createWithSerialNumber(QStringLiteral("C02XK1ABJGH5"));
    ASSERT_TRUE(specifier);
    EXPECT_EQ(specifier->hostname(), QStringLiteral("studio"));
}

TEST_F(LocalMachineSpecifierTest, ComputerNameFallsBackToTheKernelHostName)
{
    EXPECT_EQ(MachineSpecifier::systemComputerName(platform::HostRoot(root_.path())), QStringLiteral(""));
    kelvaro::test::writeFile(root_.filePath(QStringLiteral("proc/sys/kernel/hostname")), "lab-node\n");
    EXPECT_EQ(MachineSpecifier::systemComputerName(platform::HostRoot(root_.path())), QStringLiteral("lab-node"));
}

TEST(MachinePrefsImportChoice, ImportNeedsTheImportButtonAndARowInsideTheList)
{
    MachinePrefsImportChoice choice;
    EXPECT_EQ(choice.selectedIndex(), -1);
    choice.setMachineList({std::make_shared<MachineSpecifier>(QStringLiteral("one"), QStringLiteral("S1")),
                           std::make_shared<MachineSpecifier>(QStringLiteral("two"), QStringLiteral("S2"))});
    EXPECT_FALSE(choice.isImportEnabled());
    EXPECT_TRUE(choice.serialNumberForResponse(MachinePrefsImportChoice::kImportButtonTag).isNull());

    EXPECT_TRUE(choice.selectMachine(1));
    EXPECT_EQ(choice.serialNumberForResponse(MachinePrefsImportChoice::kImportButtonTag), QStringLiteral("S2"));
    EXPECT_TRUE(choice.serialNumberForResponse(0).isNull());

    EXPECT_FALSE(choice.selectMachine(2));
    EXPECT_TRUE(choice.serialNumberForResponse(MachinePrefsImportChoice::kImportButtonTag).isNull());
    EXPECT_FALSE(choice.selectMachine(-1));

    // A new list starts without a selection.
    choice.selectMachine(0);
    choice.setMachineList({});
    EXPECT_EQ(choice.selectedIndex(), -1);
}

TEST(MachinePrefsImportChoice, TableShowsNameAndSerialByColumn)
{
    MachinePrefsImportChoice choice;
    choice.setMachineList({std::make_shared<MachineSpecifier>(QStringLiteral("one"), QStringLiteral("S1"))});
    EXPECT_EQ(choice.numberOfRows(), 1);
    EXPECT_EQ(choice.objectValue(QStringLiteral("Computer"), 0), QVariant(QStringLiteral("one")));
    EXPECT_EQ(choice.objectValue(QStringLiteral("SerialNumber"), 0), QVariant(QStringLiteral("S1")));
    EXPECT_FALSE(choice.objectValue(QStringLiteral("Model"), 0).isValid());
    EXPECT_FALSE(choice.objectValue(QStringLiteral("Computer"), 1).isValid());
    EXPECT_FALSE(choice.objectValue(QStringLiteral("Computer"), -1).isValid());
}

} // namespace
