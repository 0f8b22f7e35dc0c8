#include "app/model/HistoryWindowPreferences.h"

#include "app/model/StoredColor.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kClassName = "HistoryWindowPreferences";

const QString kWindowNameKey = QStringLiteral("HistoryWindowName");
const QString kBackgroundKey = QStringLiteral("GraphBackgroundColor");
const QString kLongTermKey = QStringLiteral("OpenInLongTermMode");
const QString kZoomedOutKey = QStringLiteral("OpenInZoomedOutMode");
const QString kOpenAtLaunchKey = QStringLiteral("OpenAtLaunch");
const QString kOpenDrawerKey = QStringLiteral("OpenExtremesDrawer");
const QString kShowRulersKey = QStringLiteral("ShowRulers");
const QString kShowCurveLabelsKey = QStringLiteral("ShowCurveLabels");
const QString kSliderKey = QStringLiteral("ScaleSliderPosition");
const QString kSensorsKey = QStringLiteral("HistoryWindowSensors");
const QString kOverlayReferencesKey = QStringLiteral("OverlayReferences");
const QString kOverlayIdentifierKey = QStringLiteral("OverlayIdentifier");
const QString kDrawerWidthKey = QStringLiteral("DrawerWidth");

QString localized(const QString& key)
{
    const std::shared_ptr<const platform::Bundle> bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

void logWrongType(const QString& key, const QVariant& value, const char* expected)
{
    platform::log(kClassName, QStringLiteral("ignoring \"%1\": %2 instead of %3")
                                  .arg(key, QString::fromLatin1(platform::values::kindName(platform::values::kindOf(value))),
                                       QString::fromLatin1(expected)));
}

std::optional<QString> readString(const QVariantMap& dictionary, const QString& key)
{
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd())
        return std::nullopt;
    std::optional<QString> text = platform::values::toString(*it);
    if (!text)
        logWrongType(key, *it, "a string");
    return text;
}

void readBool(const QVariantMap& dictionary, const QString& key, bool& field)
{
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd())
        return;
    if (const std::optional<bool> value = platform::values::toBool(*it))
        field = *value;
    else
        logWrongType(key, *it, "a number");
}

std::optional<double> readReal(const QVariantMap& dictionary, const QString& key)
{
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd())
        return std::nullopt;
    const std::optional<double> value = platform::values::toReal(*it);
    if (!value || std::isnan(*value)) {
        logWrongType(key, *it, "a number");
        return std::nullopt;
    }
    return value;
}

// Elements that are no strings are dropped with a log line; the others keep their order.
void readStringList(const QVariantMap& dictionary, const QString& key, QStringList& field)
{
    const auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd())
        return;
    const std::optional<QVariantList> list = platform::values::toArray(*it);
    if (!list) {
        logWrongType(key, *it, "an array");
        return;
    }
    QStringList strings;
    strings.reserve(list->size());
    for (const QVariant& element : *list) {
        if (const std::optional<QString> text = platform::values::toString(element))
            strings.append(*text);
        else
            logWrongType(key + QStringLiteral(" element"), element, "a string");
    }
    field = strings;
}

std::shared_ptr<platform::Color> readColor(const QVariantMap& dictionary)
{
    const auto it = dictionary.constFind(kBackgroundKey);
    if (it == dictionary.constEnd())
        return nullptr;
    const std::optional<QByteArray> data = platform::values::toData(*it);
    if (!data) {
        logWrongType(kBackgroundKey, *it, "data");
        return nullptr;
    }
    auto color = storedcolor::fromArchivedData(*data);
    if (!color)
        platform::log(kClassName, QStringLiteral("ignoring \"%1\": no archived colour").arg(kBackgroundKey));
    return color;
}

QString freshOverlayIdentifier(const void* owner)
{
    // The address keeps identifiers of one run apart; the random part those of different runs, which
    // meet in the stored preferences.
    return QStringLiteral("%1%2")
        .arg(quintptr(owner), 0, 16)
        .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
}

} // namespace

QString HistoryWindowPreferences::defaultWindowNameForSensorQuantity(qint64 quantityType)
{
    static const char* const names[] = {
        "Temperature Sensors",   "Voltage Sensors",         "Current (Amperage) Sensors", "Power Sensors",
        "Capacity Sensors",      "Fan Revolution Sensors",  "Fan Pulse Width Sensors",    "Light Sensors",
        "Load Sensors",          "Memory and Storage Sensors", "Status Sensors",          "Counter Sensors",
        "Frequency Sensors",
    };
    constexpr qint64 count = qint64(sizeof names / sizeof names[0]);
    if (quantityType < 1 || quantityType > count)
        return localized(QStringLiteral("Untitled History Window"));
    return localized(QString::fromLatin1(names[quantityType - 1]));
}

HistoryWindowPreferences::HistoryWindowPreferences()
    : windowName_(localized(QStringLiteral("History Window"))),
      graphBackground_(storedcolor::windowBackground()), // the graph draws on the window background
      overlayIdentifier_(freshOverlayIdentifier(this))
{
}

std::shared_ptr<HistoryWindowPreferences> HistoryWindowPreferences::createWithPreferenceDictionary(const QVariant& value)
{
    if (!value.isValid())
        return nullptr;
    const std::optional<QVariantMap> dictionary = platform::values::toDictionary(value);
    if (!dictionary) {
        logWrongType(QStringLiteral("preference dictionary"), value, "a dictionary");
        return nullptr;
    }
    auto preferences = std::make_shared<HistoryWindowPreferences>();
    if (const std::optional<QString> name = readString(*dictionary, kWindowNameKey))
        preferences->windowName_ = *name;
    if (auto color = readColor(*dictionary))
        preferences->graphBackground_ = std::move(color);
    readBool(*dictionary, kLongTermKey, preferences->longTermMode_);
    readBool(*dictionary, kZoomedOutKey, preferences->timeZoomedOut_);
    readBool(*dictionary, kOpenAtLaunchKey, preferences->openOnLaunch_);
    readBool(*dictionary, kOpenDrawerKey, preferences->openDrawer_);
    readBool(*dictionary, kShowRulersKey, preferences->showRulers_);
    readBool(*dictionary, kShowCurveLabelsKey, preferences->showCurveLabels_);
    if (const std::optional<double> position = readReal(*dictionary, kSliderKey))
        preferences->scaleSliderPosition_ = std::clamp(*position, kMinimumSliderPosition, kMaximumSliderPosition);
    readStringList(*dictionary, kSensorsKey, preferences->sensorIdentifierList_);
    readStringList(*dictionary, kOverlayReferencesKey, preferences->overlayReferenceList_);
    // An empty identifier would make every window stored with one the target of the same overlays.
    if (const std::optional<QString> identifier = readString(*dictionary, kOverlayIdentifierKey); identifier && !identifier->isEmpty())
        preferences->overlayIdentifier_ = *identifier;
    if (const std::optional<double> width = readReal(*dictionary, kDrawerWidthKey)) {
        if (std::isfinite(*width))
            preferences->drawerWidth_ = std::max(*width, kMinimumDrawerWidth);
        else
            logWrongType(kDrawerWidthKey, dictionary->value(kDrawerWidthKey), "a finite number");
    }
    return preferences;
}

QVariantMap HistoryWindowPreferences::preferenceProperties() const
{
    using namespace platform::values;
    QVariantMap dictionary;
    dictionary.insert(kWindowNameKey, fromString(windowName_));
    storedcolor::insert(dictionary, kBackgroundKey, graphBackground_);
    dictionary.insert(kLongTermKey, fromBool(longTermMode_));
    dictionary.insert(kZoomedOutKey, fromBool(timeZoomedOut_));
    dictionary.insert(kOpenAtLaunchKey, fromBool(openOnLaunch_));
    dictionary.insert(kOpenDrawerKey, fromBool(openDrawer_));
    dictionary.insert(kShowRulersKey, fromBool(showRulers_));
    dictionary.insert(kShowCurveLabelsKey, fromBool(showCurveLabels_));
    dictionary.insert(kSliderKey, fromReal(scaleSliderPosition_));
    QVariantList sensors(sensorIdentifierList_.cbegin(), sensorIdentifierList_.cend());
    dictionary.insert(kSensorsKey, fromArray(sensors));
    QVariantList references(overlayReferenceList_.cbegin(), overlayReferenceList_.cend());
    dictionary.insert(kOverlayReferencesKey, fromArray(references));
    dictionary.insert(kOverlayIdentifierKey, fromString(overlayIdentifier_));
    dictionary.insert(kDrawerWidthKey, fromReal(drawerWidth_));
    return dictionary;
}

void HistoryWindowPreferences::setGraphBackgroundColor(std::shared_ptr<platform::Color> color)
{
    if (color)
        graphBackground_ = std::move(color);
}

void HistoryWindowPreferences::setOverlayReferencesFromSet(const std::optional<QSet<QString>>& references)
{
    if (references)
        overlayReferenceList_ = QStringList(references->cbegin(), references->cend());
}

void HistoryWindowPreferences::removeOutdatedOverlayReferencesUsingIdentifierSet(const std::optional<QSet<QString>>& identifiers)
{
    if (!identifiers)
        return;
    overlayReferenceList_.removeIf([&](const QString& reference) { return !identifiers->contains(reference); });
}
