#include "app/model/HistoryWindowPreferences.h"

#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

using platform::Color;
namespace values = platform::values;

TEST(HistoryWindowPreferences, EmptyDictionaryReadsAsDefaults)
{
    const auto preferences = HistoryWindowPreferences::createWithPreferenceDictionary(QVariantMap());
    ASSERT_TRUE(preferences);
    EXPECT_EQ(preferences->windowName(), QStringLiteral("History Window"));
    ASSERT_TRUE(preferences->graphBackgroundColor());
    EXPECT_FALSE(preferences->prefersLongTermMode());
    EXPECT_FALSE(preferences->prefersZoomedOutTimeAxis());
    EXPECT_TRUE(preferences->opensAtLaunchTime());
    EXPECT_FALSE(preferences->opensDrawerAtLaunchTime());
    EXPECT_FALSE(preferences->showsRulersAtLaunchTime());
    EXPECT_FALSE(preferences->showsCurveLabelsAtLaunchTime());
    EXPECT_EQ(preferences->preferredSliderPosition(), 1.0);
    EXPECT_EQ(preferences->drawerWidth(), 375.0);
    EXPECT_TRUE(preferences->sensorIdentifierList().isEmpty());
    EXPECT_TRUE(preferences->overlayReferences().isEmpty());
    EXPECT_FALSE(preferences->overlayIdentifier().isEmpty());
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
}

TEST(HistoryWindowPreferences, NoDictionaryGivesNoPreferences)
{
    EXPECT_FALSE(HistoryWindowPreferences::createWithPreferenceDictionary(QVariant()));
    EXPECT_FALSE(HistoryWindowPreferences::createWithPreferenceDictionary(values::fromString(QStringLiteral("window"))));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("HistoryWindowPreferences: ")));
}

TEST(HistoryWindowPreferences, WritingAndReadingGivesBackEveryField)
{
    HistoryWindowPreferences original;
    original.setWindowName(QStringLiteral("CPU and GPU"));
    original.setGraphBackgroundColor(Color::rgb(Color::Space::CalibratedRGB, 0.25f, 0.5f, 0.75f, 0.5f));
    original.setPrefersLongTermMode(true);
    original.setPrefersZoomedOutTimeAxis(true);
    original.setOpensAtLaunchTime(false);
    original.setOpensDrawerAtLaunchTime(true);
    original.setShowsRulersAtLaunchTime(true);
    original.setShowsCurveLabelsAtLaunchTime(true);
    original.setPreferredSliderPosition(3.5);
    original.setDrawerWidth(420.0);
    // The lists are edited in place, as the windows do.
    original.sensorIdentifierList() << QStringLiteral("local.TC0P") << QStringLiteral("local.TG0D");
    original.overlayReferences() << QStringLiteral("other-window");

    const QVariantMap dictionary = original.preferenceProperties();
    EXPECT_EQ(dictionary.size(), 13);
    EXPECT_EQ(values::kindOf(dictionary.value(QStringLiteral("OpenAtLaunch"))), values::Kind::Bool);
    EXPECT_EQ(values::kindOf(dictionary.value(QStringLiteral("DrawerWidth"))), values::Kind::Real);
    EXPECT_EQ(values::kindOf(dictionary.value(QStringLiteral("GraphBackgroundColor"))), values::Kind::Data);

    const auto copy = HistoryWindowPreferences::createWithPreferenceDictionary(dictionary);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->windowName(), QStringLiteral("CPU and GPU"));
    const auto color = copy->graphBackgroundColor();
    ASSERT_TRUE(color);
    EXPECT_EQ(color->colorSpace(), Color::Space::CalibratedRGB);
    EXPECT_EQ(color->red(), 0.25f);
    EXPECT_EQ(color->green(), 0.5f);
    EXPECT_EQ(color->blue(), 0.75f);
    EXPECT_EQ(color->alpha(), 0.5f);
    EXPECT_TRUE(copy->prefersLongTermMode());
    EXPECT_TRUE(copy->prefersZoomedOutTimeAxis());
    EXPECT_FALSE(copy->opensAtLaunchTime());
    EXPECT_TRUE(copy->opensDrawerAtLaunchTime());
    EXPECT_TRUE(copy->showsRulersAtLaunchTime());
    EXPECT_TRUE(copy->showsCurveLabelsAtLaunchTime());
    EXPECT_EQ(copy->preferredSliderPosition(), 3.5);
    EXPECT_EQ(copy->drawerWidth(), 420.0);
    EXPECT_EQ(copy->sensorIdentifierList(), original.sensorIdentifierList());
    EXPECT_EQ(copy->overlayReferences(), original.overlayReferences());
    EXPECT_EQ(copy->overlayIdentifier(), original.overlayIdentifier());
    EXPECT_TRUE(values::strictlyEqual(copy->preferenceProperties(), dictionary));
}

TEST(HistoryWindowPreferences, ClampsSliderAndDrawerOnlyWhenRead)
{
    struct Row {
        QString key;
        QVariant stored;
        double expected;
    };
    const Row rows[] = {
        {QStringLiteral("ScaleSliderPosition"), values::fromReal(0.3), 1.0},
        {QStringLiteral("ScaleSliderPosition"), values::fromSigned(9), 7.0},
        {QStringLiteral("ScaleSliderPosition"), values::fromReal(4.25), 4.25},
        {QStringLiteral("DrawerWidth"), values::fromSigned(100), 375.0},
        {QStringLiteral("DrawerWidth"), values::fromReal(-1.0), 375.0},
        {QStringLiteral("DrawerWidth"), values::fromReal(612.5), 612.5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key.toStdString() + " " + row.stored.toString().toStdString());
        const auto preferences = HistoryWindowPreferences::createWithPreferenceDictionary(QVariantMap{{row.key, row.stored}});
        ASSERT_TRUE(preferences);
        const bool slider = row.key == QLatin1String("ScaleSliderPosition");
        EXPECT_EQ(slider ? preferences->preferredSliderPosition() : preferences->drawerWidth(), row.expected);
    }

    HistoryWindowPreferences preferences;
    preferences.setPreferredSliderPosition(9.0);
    preferences.setDrawerWidth(100.0);
    EXPECT_EQ(preferences.preferredSliderPosition(), 9.0);
    EXPECT_EQ(preferences.drawerWidth(), 100.0);
}

TEST(HistoryWindowPreferences, WronglyTypedValuesKeepDefaultsAndAreLogged)
{
    const QVariantMap dictionary{
        {QStringLiteral("HistoryWindowName"), values::fromSigned(5)},
        {QStringLiteral("GraphBackgroundColor"), values::fromData(QByteArray("not an archive"))},
        {QStringLiteral("OpenAtLaunch"), values::fromString(QStringLiteral("NO"))},
        {QStringLiteral("ScaleSliderPosition"), values::fromReal(qQNaN())},
        {QStringLiteral("HistoryWindowSensors"),
         values::fromArray({values::fromString(QStringLiteral("local.TC0P")), values::fromSigned(7)})},
        {QStringLiteral("OverlayReferences"), values::fromString(QStringLiteral("one"))},
    };
    const auto preferences = HistoryWindowPreferences::createWithPreferenceDictionary(dictionary);
    ASSERT_TRUE(preferences);
    EXPECT_EQ(preferences->windowName(), QStringLiteral("History Window"));
    EXPECT_TRUE(preferences->graphBackgroundColor());
    EXPECT_TRUE(preferences->opensAtLaunchTime());
    EXPECT_EQ(preferences->preferredSliderPosition(), 1.0);
    EXPECT_EQ(preferences->sensorIdentifierList(), QStringList{QStringLiteral("local.TC0P")});
    EXPECT_TRUE(preferences->overlayReferences().isEmpty());
    EXPECT_GE(kelvaro::test::log().count(QStringLiteral("HistoryWindowPreferences: ignoring")), 6);
}

TEST(HistoryWindowPreferences, OverlayIdentifiersAreFreshUnlessAStringIsStored)
{
    HistoryWindowPreferences first;
    HistoryWindowPreferences second;
    EXPECT_NE(first.overlayIdentifier(), second.overlayIdentifier());

    const auto ignored = HistoryWindowPreferences::createWithPreferenceDictionary(
        QVariantMap{{QStringLiteral("OverlayIdentifier"), values::fromSigned(42)}});
    ASSERT_TRUE(ignored);
    EXPECT_FALSE(ignored->overlayIdentifier().isEmpty());
    EXPECT_NE(ignored->overlayIdentifier(), QStringLiteral("42"));
    EXPECT_NE(ignored->overlayIdentifier(), first.overlayIdentifier());

    const auto kept = HistoryWindowPreferences::createWithPreferenceDictionary(
        QVariantMap{{QStringLiteral("OverlayIdentifier"), values::fromString(QStringLiteral("0x6000abc"))}});
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->overlayIdentifier(), QStringLiteral("0x6000abc"));
}

TEST(HistoryWindowPreferences, OverlayReferencesFollowTheGivenSets)
{
    HistoryWindowPreferences preferences;
    preferences.overlayReferences() << QStringLiteral("c") << QStringLiteral("a") << QStringLiteral("gone")
                                    << QStringLiteral("b");
    preferences.removeOutdatedOverlayReferencesUsingIdentifierSet(std::nullopt);
    EXPECT_EQ(preferences.overlayReferences().size(), 4);
    preferences.removeOutdatedOverlayReferencesUsingIdentifierSet(
        QSet<QString>{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("other")});
    EXPECT_EQ(preferences.overlayReferences(), (QStringList{QStringLiteral("c"), QStringLiteral("a"), QStringLiteral("b")}));

    preferences.setOverlayReferencesFromSet(std::nullopt);
    EXPECT_EQ(preferences.overlayReferences().size(), 3);
    preferences.setOverlayReferencesFromSet(QSet<QString>{QStringLiteral("x"), QStringLiteral("y")});
    QStringList references = preferences.overlayReferences();
    references.sort();
    EXPECT_EQ(references, (QStringList{QStringLiteral("x"), QStringLiteral("y")}));
}

TEST(HistoryWindowPreferences, NullColourIsIgnored)
{
    HistoryWindowPreferences preferences;
    const auto before = preferences.graphBackgroundColor();
    preferences.setGraphBackgroundColor(nullptr);
    EXPECT_EQ(preferences.graphBackgroundColor(), before);
}

TEST(HistoryWindowPreferences, DefaultWindowNamesByQuantity)
{
    const std::pair<qint64, const char*> rows[] = {
        {1, "Temperature Sensors"}, {3, "Current (Amperage) Sensors"}, {6, "Fan Revolution Sensors"},
        {10, "Memory and Storage Sensors"}, {13, "Frequency Sensors"}, {0, "Untitled History Window"},
        {14, "Untitled History Window"}, {-1, "Untitled History Window"},
    };
    for (const auto& [quantity, name] : rows)
        EXPECT_EQ(HistoryWindowPreferences::defaultWindowNameForSensorQuantity(quantity), QString::fromLatin1(name)) << quantity;
}

} // namespace
