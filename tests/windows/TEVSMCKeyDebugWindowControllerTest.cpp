// The SMC key decoder against the known-key tables of a chosen model and a small string table.

#include "windows/TEVSMCKeyDebugWindowController.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "tests/support/TestEnvironment.h"

#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using Decoding = TEVSMCKeyDebugWindowController::Decoding;

class SMCKeyWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto plist = [](const QVariantMap& m) { return platform::writePropertyList(m, platform::PlistFormat::Xml); };
        kelvaro::test::writeFile(dir_.path() + "/Info.plist", plist({}));
        kelvaro::test::writeFile(dir_.path() + "/en.lproj/SensorLocations.strings",
                                 plist({{"SMC CPU A PROXIMITY", "CPU A Proximity"}, {"SMC AMBIENT LIGHT 2", "Ambient Light 2"}}));
        kelvaro::test::writeFile(dir_.path() + "/en.lproj/Localizable.strings",
                                 plist({{"CPU A Proximity", "Processor A, near"}}));
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir_.path()));
    }
    void TearDown() override { platform::Bundle::setMain(nullptr); }

    QTemporaryDir dir_;
    const TEVKnownSMCKeys::Model iMac_{QStringLiteral("iMac12,2"), 1};
};

} // namespace

TEST_F(SMCKeyWindowTest, DecodesTheKindCharactersAndLocationOfAKey)
{
    struct Row {
        const char* key;
        Decoding expected;
    } rows[] = {
        {"TC0P", {"Temperature", "C", "0", "P", "SMC CPU A PROXIMITY", "Processor A, near"}},
        {"ALV1", {"Light", "L", "V", "1", "SMC AMBIENT LIGHT 2", "Ambient Light 2"}},
        {"ALV0", {"Light", "L", "V", "0", "SMC AMBIENT LIGHT 1", "SMC AMBIENT LIGHT 1"}},
        {"F0Ac", {"Fan Revolutions", "0", "A", "c", "*determined dynamically*", "*determined dynamically*"}},
        // Case matters: a lower-case kind has no row.
        {"tc0p", {"", "c", "0", "p", "", ""}},
        {"XYZW", {"", "Y", "Z", "W", "", ""}},
        // Known on other models only: the kind without a location.
        {"TC5P", {"Temperature", "C", "5", "P", "", ""}},
        {"VZ9Z", {"Voltage", "Z", "9", "Z", "", ""}},
        {"IZ9Z", {"Current", "Z", "9", "Z", "", ""}},
        {"PZ9Z", {"Power", "Z", "9", "Z", "", ""}},
        {"TC0", {}},
        {"TC0PX", {}},
        {"", {}},
    };
    for (const Row& row : rows) {
        const Decoding decoded = TEVSMCKeyDebugWindowController::decodeKey(QString::fromUtf8(row.key), iMac_);
        EXPECT_EQ(decoded.sensorType, row.expected.sensorType) << row.key;
        EXPECT_EQ(decoded.locationCharacter, row.expected.locationCharacter) << row.key;
        EXPECT_EQ(decoded.indexCharacter, row.expected.indexCharacter) << row.key;
        EXPECT_EQ(decoded.subTypeCharacter, row.expected.subTypeCharacter) << row.key;
        EXPECT_EQ(decoded.sensorName, row.expected.sensorName) << row.key;
        EXPECT_EQ(decoded.localizedName, row.expected.localizedName) << row.key;
    }
}

TEST_F(SMCKeyWindowTest, TypingAloneDecodesNothingAndEachRefreshStartsClean)
{
    TEVSMCKeyDebugWindowController controller([this] { return iMac_; });
    auto* field = controller.window()->findChild<QLineEdit*>(QStringLiteral("enteredKey"));
    auto* type = controller.window()->findChild<QLabel*>(QStringLiteral("sensorType"));
    auto* name = controller.window()->findChild<QLabel*>(QStringLiteral("sensorName"));
    ASSERT_TRUE(field && type && name);
    field->setText(QStringLiteral("TC0P"));
    EXPECT_EQ(controller.enteredKey(), QStringLiteral("TC0P"));
    EXPECT_TRUE(type->text().isEmpty());
    emit field->returnPressed();
    EXPECT_EQ(type->text(), QStringLiteral("Temperature"));
    EXPECT_EQ(name->text(), QStringLiteral("SMC CPU A PROXIMITY"));
    controller.setEnteredKey(QStringLiteral("XYZW"));
    controller.refreshWindow();
    EXPECT_TRUE(type->text().isEmpty());
    EXPECT_TRUE(name->text().isEmpty());
    EXPECT_EQ(controller.window()->findChild<QLabel*>(QStringLiteral("subTypeCharacter"))->text(), QStringLiteral("W"));
}
