#include "platform/foundation/Bundle.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::Bundle;

namespace {

void writeTable(const QString& path, const QVariantMap& strings)
{
    kelvaro::test::writeFile(path, platform::writePropertyList(strings, platform::PlistFormat::Xml));
}

// A bundle folder built in code: English and German "Localizable", an English-only polite table and
// "MachineInfo" without a polite variant.
struct BundleFixture : ::testing::Test {
    QTemporaryDir dir;
    std::shared_ptr<const Bundle> bundle;

    void SetUp() override
    {
        Bundle::setPreferredLanguages({"en"});
        writeTable(dir.path() + "/Info.plist", {{"CFBundleIdentifier", "com.example.test"}});
        writeTable(dir.path() + "/en.lproj/Localizable.strings",
                   {{"Quit", "Quit"}, {"Only plain", "Only plain text"}, {"Empty", ""}});
        writeTable(dir.path() + "/en.lproj/Localizable-Polite.strings", {{"Quit", "Would you please quit"}});
        writeTable(dir.path() + "/en.lproj/MachineInfo.strings", {{"Serial", "Serial Number"}});
        writeTable(dir.path() + "/de.lproj/Localizable.strings", {{"Quit", "Beenden"}});
        bundle = Bundle::fromDirectory(dir.path());
        ASSERT_TRUE(bundle);
    }
    void TearDown() override { Bundle::setPreferredLanguages({}); }
};

} // namespace

TEST_F(BundleFixture, LookupFallsBackToValueThenKey)
{
    using Forms = Bundle::StringForms;
    struct Row {
        const char* key;
        QString value;
        QString table;
        Forms forms;
        QString expected;
    };
    const Row rows[] = {
        {"Quit", {}, {}, Forms::Plain, "Quit"},
        {"Quit", "ignored", "Localizable", Forms::Plain, "Quit"},
        {"Empty", "ignored", {}, Forms::Plain, ""},
        {"Missing", "Fallback", {}, Forms::Plain, "Fallback"},
        {"Missing", {}, {}, Forms::Plain, "Missing"},
        {"Missing", "", "NoSuchTable", Forms::Plain, "Missing"},
        {"Serial", "x", "NoSuchTable", Forms::Plain, "x"},
        {"Serial", {}, "MachineInfo", Forms::Plain, "Serial Number"},
        // Polite: the "-Polite" table replaces the table when it exists, with no return to the plain one.
        {"Quit", {}, {}, Forms::Polite, "Would you please quit"},
        {"Quit", {}, "Localizable", Forms::Polite, "Would you please quit"},
        {"Only plain", {}, {}, Forms::Polite, "Only plain"},
        {"Only plain", {}, {}, Forms::Plain, "Only plain text"},
        {"Serial", {}, "MachineInfo", Forms::Polite, "Serial Number"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(bundle->localizedString(row.key, row.value, row.table, row.forms), row.expected)
            << row.key << " in " << row.table.toStdString() << (row.forms == Forms::Polite ? " (polite)" : "");
    }
    EXPECT_TRUE(bundle->hasStringTable("Localizable-Polite"));
    EXPECT_FALSE(bundle->hasStringTable("MachineInfo-Polite"));
}

TEST_F(BundleFixture, PreferredLanguageFirstThenDevelopmentRegion)
{
    Bundle::setPreferredLanguages({"de-CH"});
    EXPECT_EQ(bundle->localizations(), (QStringList{"de", "en"}));
    EXPECT_EQ(bundle->localizedString("Quit"), "Beenden");
    EXPECT_EQ(bundle->localizedString("Only plain"), "Only plain text") << "a key the German table lacks";

    Bundle::setPreferredLanguages({"fr"});
    EXPECT_EQ(bundle->localizations(), QStringList{"en"});
    EXPECT_EQ(bundle->localizedString("Quit"), "Quit");
}

TEST_F(BundleFixture, BadTablesAreLoggedAndSkipped)
{
    kelvaro::test::writeFile(dir.path() + "/en.lproj/Broken.strings", "\"Quit\" = \"Quit\";\n");
    writeTable(dir.path() + "/en.lproj/Mixed.strings", {{"Text", "Text"}, {"Number", qint64(3)}});
    const auto fresh = Bundle::fromDirectory(dir.path());
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->localizedString("Quit", "v", "Broken"), "v");
    EXPECT_EQ(fresh->localizedString("Quit", "v", "Broken"), "v");
    EXPECT_EQ(kelvaro::test::log().count("Broken.strings is no property-list dictionary"), 1) << "logged once";
    EXPECT_EQ(fresh->localizedString("Text", {}, "Mixed"), "Text");
    EXPECT_EQ(fresh->localizedString("Number", {}, "Mixed"), "Number");
    EXPECT_TRUE(kelvaro::test::log().contains("Mixed.strings: 1 entries are no strings"));
}

TEST_F(BundleFixture, FindsImagesWithOrWithoutExtension)
{
    kelvaro::test::writeFile(dir.path() + "/Gauge.png", "PNG bytes");
    kelvaro::test::writeFile(dir.path() + "/en.lproj/Flag.svg", "<svg/>");
    EXPECT_EQ(bundle->pathForImageResource("Gauge"), dir.path() + "/Gauge.png");
    EXPECT_EQ(bundle->pathForImageResource("Gauge.png"), dir.path() + "/Gauge.png");
    EXPECT_EQ(bundle->pathForImageResource("Flag"), dir.path() + "/en.lproj/Flag.svg");
    EXPECT_EQ(bundle->imageData("Gauge"), QByteArray("PNG bytes"));
    EXPECT_EQ(bundle->imageData("Missing"), std::nullopt);
}

TEST(Bundle, FromDirectoryNeedsAFolderAndAReadableInfoDictionary)
{
    QTemporaryDir dir;
    EXPECT_EQ(Bundle::fromDirectory(dir.path() + "/absent"), nullptr);

    const auto noInfo = Bundle::fromDirectory(dir.path());
    ASSERT_TRUE(noInfo);
    EXPECT_TRUE(noInfo->infoDictionary().isEmpty());
    EXPECT_EQ(noInfo->identifier(), "");

    kelvaro::test::writeFile(dir.path() + "/Info.plist", "<plist><dict><key>CFBundleIdentifier</key>");
    EXPECT_EQ(Bundle::fromDirectory(dir.path()), nullptr);
    EXPECT_TRUE(kelvaro::test::log().contains("Bundle: "));
}

TEST(Bundle, ProgramsAreCompiledInAndMainIsSettable)
{
    struct Row {
        const char* program;
        const char* identifier;
        const char* name;
    };
    const Row rows[] = {
        {"Kelvaro", "com.tarnwell.kelvaro", "Kelvaro"},
        {"KelvaroLite", "com.tarnwell.kelvaro.lite", "Kelvaro Lite"},
    };
    for (const Row& row : rows) {
        const auto bundle = Bundle::forProgram(row.program);
        ASSERT_TRUE(bundle) << row.program;
        EXPECT_EQ(bundle->identifier(), row.identifier);
        EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleName"), row.name);
        EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleShortVersionString"), "0.1.0");
        EXPECT_EQ(bundle->objectForInfoDictionaryKey("CFBundleVersion"), "1");
    }
    EXPECT_EQ(Bundle::forProgram("Other"), nullptr);

    EXPECT_EQ(Bundle::main()->identifier(), "com.tarnwell.kelvaro");
    EXPECT_EQ(platform::UserDefaults::standard()->domain(), "com.tarnwell.kelvaro");
    Bundle::setMain(Bundle::forProgram("KelvaroLite"));
    EXPECT_EQ(Bundle::main()->identifier(), "com.tarnwell.kelvaro.lite");
    EXPECT_EQ(platform::UserDefaults::standard()->domain(), "com.tarnwell.kelvaro.lite");
    Bundle::setMain(nullptr);
    EXPECT_EQ(Bundle::main()->identifier(), "com.tarnwell.kelvaro");
}
