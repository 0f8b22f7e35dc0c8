#include "app/model/MachinePreferences.h"

#include "acquisition/MonitoringClient.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/StoredColor.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSensorDescription.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace platform::values;
using platform::Color;

namespace {

const char* const kClassName = "MachinePreferences";

namespace key {
const QString availableGauges = QStringLiteral("AvailableGauges");
const QString dontCheckForOutdatedNames = QStringLiteral("DontCheckForOutdatedSensorNames");
const QString standardWindowBackground = QStringLiteral("StandardWindowBackgroundColor");
const QString standardWindowVertical = QStringLiteral("WindowsVertical");
const QString standardWindowUsesForeground = QStringLiteral("StandardWindowUsesForegroundColor");
const QString standardWindowForeground = QStringLiteral("StandardWindowForegroundColor");
const QString standardWindowFontName = QStringLiteral("StandardWindowFontName");
const QString standardWindowFontSize = QStringLiteral("StandardWindowFontSize");
const QString standardWindowFontRatio = QStringLiteral("StandardWindowFontRatio");
const QString standardWindowAlignment = QStringLiteral("StandardWindowAlignment");
const QString standardWindowSensors = QStringLiteral("StandardWindowSensors");
const QString screenWindowVertical = QStringLiteral("FloatingWindowVertical");
const QString screenWindowUsesForeground = QStringLiteral("FloatingWindowUsesForegroundColor");
const QString screenWindowForeground = QStringLiteral("FloatingWindowForegroundColor");
const QString screenWindowTransparency = QStringLiteral("FloatingWindowTransparency");
const QString screenWindowHasShadow = QStringLiteral("FloatingWindowHasShadow");
const QString screenWindowFontName = QStringLiteral("FloatingWindowFontName");
// Misspelt in every stored set; reading or writing the correct spelling would lose the setting.
const QString screenWindowFontSize = QStringLiteral("FloatingWindwoFontSize");
const QString screenWindowFontRatio = QStringLiteral("FloatingWindowFontRatio");
const QString screenWindowIsBackdrop = QStringLiteral("ScreenWindowIsBackdrop");
const QString screenWindowIsFixed = QStringLiteral("ScreenWindowIsFixed");
const QString screenWindowAlignment = QStringLiteral("ScreenWindowAlignment");
const QString screenWindowSensors = QStringLiteral("FloatingWindowSensors");
const QString dockUsesTextDisplay = QStringLiteral("DockUsesTextDisplay");
const QString dockTextUsesDefaultColors = QStringLiteral("DockTextUsesDefaultColors");
const QString dockTextColor = QStringLiteral("DockTextColor");
const QString dockSensors = QStringLiteral("DockSensors");
const QString displaysShortNames = QStringLiteral("MenuBarShowsShortNames");
const QString menuBarUsesColor = QStringLiteral("MenuBarUsesColor");
const QString menuBarFontName = QStringLiteral("MenuBarFontName");
const QString menuBarFontSize = QStringLiteral("MenuBarFontSize");
const QString menuBarSensors = QStringLiteral("MenuBarSensors");
const QString historyWindows = QStringLiteral("HistoryWindows");
const QString talksInIntervals = QStringLiteral("TalkInIntervals");
const QString talkIntervalMultiplier = QStringLiteral("TalkIntervalMultiplier");
const QString talkOnCustomizedDelta = QStringLiteral("TalkOnCustomizedDelta");
const QString talkDeltaValue = QStringLiteral("TalkDeltaValue");
const QString talksSensorNames = QStringLiteral("TalkSensorNames");
const QString talkingSensors = QStringLiteral("TalkSensors");
const QString alertTriggers = QStringLiteral("Triggers");
const QString alertOpensWarning = QStringLiteral("AlertOpensPanel");
const QString alertPlaysSound = QStringLiteral("AlertPlaySound");
const QString alertUsesVoice = QStringLiteral("AlertUsesVoice");
const QString alertSendsGrowl = QStringLiteral("AlertSendsGrowl");
const QString alertOpensObject = QStringLiteral("AlertOpensObject");
const QString alertObjectPath = QStringLiteral("AlertObjectPath");
const QString probeDescriptions = QStringLiteral("LocalProbes");
const QString lcdModules = QStringLiteral("LCDModules");

// First-generation keys at the top level of the user defaults.
const QString version1ScreenColor = QStringLiteral("FloatWindowColor");
const QString version1ScreenShadow = QStringLiteral("FloatWindowHasShadow");
const QString version1ScreenTransparency = QStringLiteral("FloatWindowTransparency");
} // namespace key

constexpr float kMinimumFontSize = 4.0f, kMaximumFontSize = 128.0f;
constexpr float kMinimumFontRatio = 1.0f, kMaximumFontRatio = 2.5f;
constexpr quint64 kMaximumTalkIntervalMultiplier = 20;
constexpr float kMinimumTalkDelta = 0.1f, kMaximumTalkDelta = 30.0f;
constexpr qint64 kTemperature = 1;

std::shared_ptr<Color> redColor() { return Color::rgb(Color::Space::CalibratedRGB, 1.0f, 0.0f, 0.0f); }

void logIgnored(const QString& keyName, const char* expected)
{
    platform::log(kClassName, QStringLiteral("ignoring the stored \"%1\": it is no %2").arg(keyName, QLatin1String(expected)));
}

// Reads one stored value into a field when the key is present; a value of the wrong kind is logged and
// the field keeps what it has.
class Reader {
public:
    explicit Reader(const QVariantMap& dictionary)
        : dictionary_(dictionary)
    {
    }

    void boolean(const QString& name, bool& field) const
    {
        if (const QVariant* value = find(name)) {
            if (const auto v = toBool(*value))
                field = *v;
            else
                logIgnored(name, "boolean");
        }
    }
    void real(const QString& name, float& field, float minimum, float maximum) const
    {
        if (const QVariant* value = find(name)) {
            // NaN would pass every clamp.
            if (const auto v = toReal(*value); v && !std::isnan(*v))
                field = float(*v);
            else
                logIgnored(name, "number");
        }
        field = std::clamp(field, minimum, maximum);
    }
    void integer(const QString& name, qint64& field) const
    {
        if (const QVariant* value = find(name)) {
            if (const auto v = toSigned(*value))
                field = *v;
            else
                logIgnored(name, "integer");
        }
    }
    // A negative stored value compares as the large unsigned number it is stored as.
    void unsignedInteger(const QString& name, quint64& field) const
    {
        if (const QVariant* value = find(name)) {
            if (const auto v = toUnsigned(*value))
                field = *v;
            else if (const auto s = toSigned(*value))
                field = quint64(*s);
            else if (const auto r = toReal(*value); r && *r >= 18446744073709551616.0) // above every cap
                field = std::numeric_limits<quint64>::max();
            else
                logIgnored(name, "integer");
        }
    }
    void string(const QString& name, QString& field) const
    {
        if (const QVariant* value = find(name)) {
            if (const auto v = toString(*value))
                field = *v;
            else
                logIgnored(name, "string");
        }
    }
    // Elements that are no strings are dropped.
    void identifiers(const QString& name, QStringList& field) const
    {
        if (const QVariant* value = find(name)) {
            const auto array = toArray(*value);
            if (!array) {
                logIgnored(name, "array");
                return;
            }
            QStringList list;
            list.reserve(array->size());
            for (const QVariant& element : *array) {
                if (const auto identifier = toString(element))
                    list.append(*identifier);
                else
                    logIgnored(name + QStringLiteral(" element"), "string");
            }
            field = std::move(list);
        }
    }
    // A sequential archive of a colour; anything else keeps the field's colour.
    void color(const QString& name, std::shared_ptr<Color>& field) const
    {
        if (const QVariant* value = find(name)) {
            const auto data = toData(*value);
            auto color = data ? storedcolor::fromArchivedData(*data) : nullptr;
            if (color)
                field = std::move(color);
            else
                logIgnored(name, "colour archive");
        }
    }
    const QVariant* find(const QString& name) const
    {
        const auto it = dictionary_.constFind(name);
        return it == dictionary_.constEnd() ? nullptr : &it.value();
    }

private:
    const QVariantMap& dictionary_;
};

QVariant identifierArray(const QStringList& identifiers)
{
    QVariantList list;
    list.reserve(identifiers.size());
    for (const QString& identifier : identifiers)
        list.append(fromString(identifier));
    return fromArray(list);
}

// The system font when no installed font has the name; only a GUI application knows the installed fonts.
QString resolvedFontName(const QString& name)
{
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return name;
    return QFontDatabase::families().contains(name) ? name : MachinePreferences::systemFontName();
}

} // namespace

// --- Creation --------------------------------------------------------------------------------------------

std::optional<MachinePreferences::Map> MachinePreferences::allMachinePreferencesFromUserDefaultsWithKey(const QString& key)
{
    if (key.isNull())
        return std::nullopt;
    Map sets;
    const auto stored = toDictionary(TEVUserDefaultsProxy::standardUserDefaults().objectForKey(key));
    if (!stored)
        return sets;
    for (auto it = stored->cbegin(); it != stored->cend(); ++it) {
        const auto dictionary = toDictionary(it.value());
        if (!dictionary)
            continue; // the global preferences keep it as stored, and say so
        if (auto set = createWithDefaultsDictionary(dictionary))
            sets.insert(it.key(), std::move(set));
    }
    return sets;
}

std::shared_ptr<MachinePreferences> MachinePreferences::machinePreferencesFromUserDefaultsVersion1()
{
    auto set = std::make_shared<MachinePreferences>();
    const auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
    // The first generation stored this colour as a keyed archive.
    if (const auto data = toData(defaults.objectForKey(key::version1ScreenColor))) {
        platform::UnarchiveOptions options;
        options.allowedClasses = {QStringLiteral("NSColor")};
        if (auto color = platform::objectAs<Color>(toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(*data, options))))
            set->screenWindowForeground_ = std::move(color);
    }
    set->screenWindowHasShadow_ = defaults.boolForKey(key::version1ScreenShadow);
    // Absent, the screen display stays opaque rather than invisible.
    if (defaults.objectForKey(key::version1ScreenTransparency).isValid())
        set->screenWindowTransparency_ = defaults.floatForKey(key::version1ScreenTransparency);
    return set;
}

QString MachinePreferences::systemFontName()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    return QStringLiteral("Sans Serif");
}

MachinePreferences::MachinePreferences()
    : standardWindowBackground_(storedcolor::windowBackground())
    , standardWindowForeground_(storedcolor::black()) // the control text colour
    , standardWindowFontName_(systemFontName())
    , screenWindowForeground_(redColor())
    , screenWindowFontName_(systemFontName())
    , dockTextColor_(storedcolor::black()) // the text colour
    , menuBarFontName_(systemFontName())
{
}

MachinePreferences::~MachinePreferences() = default;

std::shared_ptr<MachinePreferences> MachinePreferences::createForLocalClient(const std::shared_ptr<MonitoringClient>& client)
{
    if (!client)
        return nullptr;
    auto set = std::make_shared<MachinePreferences>();
    set->addNewSensorsWithUniversalIdentifiers(client->availableSensorIdentifiers(), client);
    return set;
}

std::shared_ptr<MachinePreferences> MachinePreferences::createWithDefaultsDictionary(const std::optional<QVariantMap>& dictionary)
{
    if (!dictionary)
        return nullptr;
    auto set = std::make_shared<MachinePreferences>();
    set->readDefaultsDictionary(*dictionary);
    return set;
}

void MachinePreferences::readDefaultsDictionary(const QVariantMap& dictionary)
{
    const Reader read(dictionary);

    if (const QVariant* stored = read.find(key::availableGauges)) {
        const QVariantMap gauges = toDictionary(*stored).value_or(QVariantMap{});
        if (!toDictionary(*stored))
            logIgnored(key::availableGauges, "dictionary");
        for (auto it = gauges.cbegin(); it != gauges.cend(); ++it) {
            QString sensorIdentifier;
            if (!TEVGauge::getSensorIdentifier(&sensorIdentifier, nullptr, it.key()))
                sensorIdentifier = it.key();
            if (auto gauge = TEVGauge::createForSensorIdentifierPreferenceDictionary(sensorIdentifier, it.value()))
                availableGauges_.insert(it.key(), std::move(gauge));
            else
                platform::log(kClassName, QStringLiteral("ignoring the stored gauge %1: no gauge dictionary").arg(it.key()));
        }
    }

    read.boolean(key::dontCheckForOutdatedNames, dontCheckForOutdatedNames_);
    read.color(key::standardWindowBackground, standardWindowBackground_);
    read.boolean(key::standardWindowVertical, standardWindowVertical_);
    read.boolean(key::standardWindowUsesForeground, standardWindowUsesForeground_);
    read.color(key::standardWindowForeground, standardWindowForeground_);
    read.string(key::standardWindowFontName, standardWindowFontName_);
    read.real(key::standardWindowFontSize, standardWindowFontSize_, kMinimumFontSize, kMaximumFontSize);
    read.real(key::standardWindowFontRatio, standardWindowFontRatio_, kMinimumFontRatio, kMaximumFontRatio);
    read.integer(key::standardWindowAlignment, standardWindowAlignment_);
    read.identifiers(key::standardWindowSensors, standardWindowSensors_);
    read.boolean(key::screenWindowVertical, screenWindowVertical_);
    read.boolean(key::screenWindowUsesForeground, screenWindowUsesForeground_);
    read.color(key::screenWindowForeground, screenWindowForeground_);
    read.real(key::screenWindowTransparency, screenWindowTransparency_, 0.0f, 1.0f);
    read.boolean(key::screenWindowHasShadow, screenWindowHasShadow_);
    read.string(key::screenWindowFontName, screenWindowFontName_);
    read.real(key::screenWindowFontSize, screenWindowFontSize_, kMinimumFontSize, kMaximumFontSize);
    read.real(key::screenWindowFontRatio, screenWindowFontRatio_, kMinimumFontRatio, kMaximumFontRatio);
    read.boolean(key::screenWindowIsBackdrop, screenWindowIsBackdrop_);
    read.boolean(key::screenWindowIsFixed, screenWindowIsFixed_);
    read.integer(key::screenWindowAlignment, screenWindowAlignment_);
    read.identifiers(key::screenWindowSensors, screenWindowSensors_);
    read.boolean(key::dockUsesTextDisplay, dockUsesTextDisplay_);
    read.boolean(key::dockTextUsesDefaultColors, dockTextUsesDefaultColors_);
    read.color(key::dockTextColor, dockTextColor_);
    read.identifiers(key::dockSensors, dockSensors_);
    read.boolean(key::displaysShortNames, displaysShortNames_);
    read.boolean(key::menuBarUsesColor, menuBarUsesColor_);
    read.string(key::menuBarFontName, menuBarFontName_);
    read.real(key::menuBarFontSize, menuBarFontSize_, kMinimumFontSize, kMaximumFontSize);
    read.identifiers(key::menuBarSensors, menuBarSensors_);

    if (const QVariant* stored = read.find(key::historyWindows)) {
        const auto windows = toArray(*stored);
        if (!windows)
            logIgnored(key::historyWindows, "array");
        for (const QVariant& window : windows ? *windows : QVariantList{}) {
            if (auto preferences = HistoryWindowPreferences::createWithPreferenceDictionary(window))
                historyWindowPrefs_.append(std::move(preferences));
            else
                logIgnored(key::historyWindows + QStringLiteral(" element"), "dictionary");
        }
    }

    read.boolean(key::talksInIntervals, talksInIntervals_);
    read.unsignedInteger(key::talkIntervalMultiplier, talkIntervalMultiplier_);
    talkIntervalMultiplier_ = std::clamp<quint64>(talkIntervalMultiplier_, 1, kMaximumTalkIntervalMultiplier);
    read.boolean(key::talkOnCustomizedDelta, talkOnCustomizedDelta_);
    read.real(key::talkDeltaValue, talkDeltaValue_, kMinimumTalkDelta, kMaximumTalkDelta);
    read.boolean(key::talksSensorNames, talksSensorNames_);
    read.identifiers(key::talkingSensors, talkingSensors_);
    read.identifiers(key::alertTriggers, alertTriggers_);
    read.boolean(key::alertOpensWarning, alertOpensWarning_);
    read.boolean(key::alertPlaysSound, alertPlaysSound_);
    read.boolean(key::alertUsesVoice, alertUsesVoice_);
    read.boolean(key::alertSendsGrowl, alertSendsGrowl_);
    read.boolean(key::alertOpensObject, alertOpensObject_);
    read.string(key::alertObjectPath, alertObjectPath_);

    if (const QVariant* stored = read.find(key::probeDescriptions)) {
        if (const auto probes = toArray(*stored))
            probeDescriptions_ = *probes;
        else
            logIgnored(key::probeDescriptions, "array");
    }
    if (const QVariant* stored = read.find(key::lcdModules)) {
        if (const auto modules = toDictionary(*stored))
            lcdModules_ = *modules;
        else
            logIgnored(key::lcdModules, "dictionary");
    }
}

// --- Stored form ------------------------------------------------------------------------------------------

QVariantMap MachinePreferences::defaultsDictionary()
{
    QVariantMap dictionary;

    QVariantMap gauges;
    for (auto it = availableGauges_.cbegin(); it != availableGauges_.cend(); ++it) {
        if (it.value())
            gauges.insert(it.key(), fromDictionary(it.value()->preferenceDictionary()));
    }
    dictionary.insert(key::availableGauges, fromDictionary(gauges));

    // Overlays may only point at windows of this set.
    QSet<QString> overlayIdentifiers;
    for (const auto& window : std::as_const(historyWindowPrefs_)) {
        if (window)
            overlayIdentifiers.insert(window->overlayIdentifier());
    }
    QVariantList windows;
    for (const auto& window : std::as_const(historyWindowPrefs_)) {
        if (!window)
            continue;
        window->removeOutdatedOverlayReferencesUsingIdentifierSet(overlayIdentifiers);
        windows.append(fromDictionary(window->preferenceProperties()));
    }
    dictionary.insert(key::historyWindows, fromArray(windows));

    const auto real = [](float value) { return fromReal(double(value)); };
    dictionary.insert(key::dontCheckForOutdatedNames, fromBool(dontCheckForOutdatedNames_));
    storedcolor::insert(dictionary, key::standardWindowBackground, standardWindowBackground_);
    dictionary.insert(key::standardWindowVertical, fromBool(standardWindowVertical_));
    dictionary.insert(key::standardWindowUsesForeground, fromBool(standardWindowUsesForeground_));
    storedcolor::insert(dictionary, key::standardWindowForeground, standardWindowForeground_);
    if (!standardWindowFontName_.isNull())
        dictionary.insert(key::standardWindowFontName, fromString(standardWindowFontName_));
    dictionary.insert(key::standardWindowFontSize, real(standardWindowFontSize_));
    dictionary.insert(key::standardWindowFontRatio, real(standardWindowFontRatio_));
    dictionary.insert(key::standardWindowAlignment, fromSigned(standardWindowAlignment_));
    dictionary.insert(key::standardWindowSensors, identifierArray(standardWindowSensors_));
    dictionary.insert(key::screenWindowVertical, fromBool(screenWindowVertical_));
    dictionary.insert(key::screenWindowUsesForeground, fromBool(screenWindowUsesForeground_));
    storedcolor::insert(dictionary, key::screenWindowForeground, screenWindowForeground_);
    dictionary.insert(key::screenWindowTransparency, real(screenWindowTransparency_));
    dictionary.insert(key::screenWindowHasShadow, fromBool(screenWindowHasShadow_));
    if (!screenWindowFontName_.isNull())
        dictionary.insert(key::screenWindowFontName, fromString(screenWindowFontName_));
    dictionary.insert(key::screenWindowFontSize, real(screenWindowFontSize_));
    dictionary.insert(key::screenWindowFontRatio, real(screenWindowFontRatio_));
    dictionary.insert(key::screenWindowIsBackdrop, fromBool(screenWindowIsBackdrop_));
    dictionary.insert(key::screenWindowIsFixed, fromBool(screenWindowIsFixed_));
    dictionary.insert(key::screenWindowAlignment, fromSigned(screenWindowAlignment_));
    dictionary.insert(key::screenWindowSensors, identifierArray(screenWindowSensors_));
    dictionary.insert(key::dockUsesTextDisplay, fromBool(dockUsesTextDisplay_));
    dictionary.insert(key::dockTextUsesDefaultColors, fromBool(dockTextUsesDefaultColors_));
    storedcolor::insert(dictionary, key::dockTextColor, dockTextColor_);
    dictionary.insert(key::dockSensors, identifierArray(dockSensors_));
    dictionary.insert(key::displaysShortNames, fromBool(displaysShortNames_));
    dictionary.insert(key::menuBarUsesColor, fromBool(menuBarUsesColor_));
    if (!menuBarFontName_.isNull())
        dictionary.insert(key::menuBarFontName, fromString(menuBarFontName_));
    dictionary.insert(key::menuBarFontSize, real(menuBarFontSize_));
    dictionary.insert(key::menuBarSensors, identifierArray(menuBarSensors_));
    dictionary.insert(key::talksInIntervals, fromBool(talksInIntervals_));
    dictionary.insert(key::talkIntervalMultiplier, fromUnsigned(talkIntervalMultiplier_));
    dictionary.insert(key::talkOnCustomizedDelta, fromBool(talkOnCustomizedDelta_));
    dictionary.insert(key::talkDeltaValue, real(talkDeltaValue_));
    dictionary.insert(key::talksSensorNames, fromBool(talksSensorNames_));
    dictionary.insert(key::talkingSensors, identifierArray(talkingSensors_));
    dictionary.insert(key::alertTriggers, identifierArray(alertTriggers_));
    dictionary.insert(key::alertOpensWarning, fromBool(alertOpensWarning_));
    dictionary.insert(key::alertPlaysSound, fromBool(alertPlaysSound_));
    dictionary.insert(key::alertUsesVoice, fromBool(alertUsesVoice_));
    dictionary.insert(key::alertSendsGrowl, fromBool(alertSendsGrowl_));
    dictionary.insert(key::alertOpensObject, fromBool(alertOpensObject_));
    if (!alertObjectPath_.isNull())
        dictionary.insert(key::alertObjectPath, fromString(alertObjectPath_));
    dictionary.insert(key::probeDescriptions, fromArray(probeDescriptions_));
    dictionary.insert(key::lcdModules, fromDictionary(lcdModules_));
    return dictionary;
}

// --- Gauges -----------------------------------------------------------------------------------------------

qsizetype MachinePreferences::addNewSensorsWithUniversalIdentifiers(const QStringList& identifiers,
                                                                    const std::shared_ptr<TEVSensorSource>& client)
{
    if (identifiers.isEmpty() || !client)
        return 0;

    QList<std::pair<QString, std::shared_ptr<TEVGauge>>> newGauges;
    QMap<qint64, QStringList> groups; // quantity type → universal identifiers, ascending by type
    QString firstTemperature;
    for (const QString& universal : identifiers) {
        if (availableGauges_.contains(universal))
            continue;
        QString sensorIdentifier = universal;
        if (TEVGauge::isUniversalGaugeIdentifierIndicatingRemoteSensor(universal) &&
            !TEVGauge::getSensorIdentifier(&sensorIdentifier, nullptr, universal)) {
            platform::log(kClassName,
                          QStringLiteral("WARNING: could not create new gauge preference set for identifier %1").arg(universal));
            continue;
        }
        auto gauge = TEVGauge::createForSensorIdentifierConnectingToClient(sensorIdentifier, client);
        if (!gauge)
            continue;
        availableGauges_.insert(universal, gauge);
        const qint64 quantity = gauge->sensorQuantityType();
        if (quantity == kTemperature && firstTemperature.isNull())
            firstTemperature = universal;
        groups[quantity].append(universal);
        newGauges.append({universal, std::move(gauge)});
    }
    if (newGauges.isEmpty())
        return 0;

    std::stable_sort(newGauges.begin(), newGauges.end(),
                     [](const auto& a, const auto& b) { return a.second->compare(*b.second) < 0; });
    // A sensor that comes back may still be listed from before: it is not listed twice.
    for (const auto& entry : std::as_const(newGauges)) {
        for (QStringList* list : {&standardWindowSensors_, &screenWindowSensors_, &menuBarSensors_}) {
            if (!list->contains(entry.first))
                list->append(entry.first);
        }
    }

    if (!firstTemperature.isNull()) {
        if (dockSensors_.isEmpty())
            dockSensors_.append(firstTemperature);
        if (talkingSensors_.isEmpty())
            talkingSensors_.append(firstTemperature);
    }

    // The first window per type of its first gauge; a first gauge that is not filed counts as type 0.
    QMap<qint64, std::shared_ptr<HistoryWindowPreferences>> windowForType;
    for (const auto& window : std::as_const(historyWindowPrefs_)) {
        if (!window || window->sensorIdentifierList().isEmpty())
            continue;
        const auto first = availableGauges_.value(window->sensorIdentifierList().first());
        const qint64 type = first ? first->sensorQuantityType() : 0;
        if (!windowForType.contains(type))
            windowForType.insert(type, window);
    }
    // A sensor that comes back may still be listed in a history window: it stays where it is.
    QSet<QString> listed;
    for (const auto& window : std::as_const(historyWindowPrefs_))
        if (window)
            for (const QString& identifier : window->sensorIdentifierList())
                listed.insert(identifier);
    for (auto it = groups.begin(); it != groups.end(); ++it) {
        it.value().removeIf([&listed](const QString& identifier) { return listed.contains(identifier); });
        if (it.value().isEmpty())
            continue;
        auto window = windowForType.value(it.key());
        if (!window) {
            window = std::make_shared<HistoryWindowPreferences>();
            window->setWindowName(HistoryWindowPreferences::defaultWindowNameForSensorQuantity(it.key()));
            historyWindowPrefs_.append(window);
            windowForType.insert(it.key(), window);
        }
        QStringList sorted = it.value();
        std::sort(sorted.begin(), sorted.end());
        window->sensorIdentifierList().append(sorted);
    }
    return newGauges.size();
}

void MachinePreferences::removeAllReferencesToGauge(const std::shared_ptr<TEVGauge>& gauge)
{
    if (!gauge)
        return;
    QString found;
    for (auto it = availableGauges_.cbegin(); it != availableGauges_.cend(); ++it) {
        if (it.value() == gauge) {
            found = it.key();
            break;
        }
    }
    if (found.isNull())
        return;
    availableGauges_.remove(found);
    for (QStringList* list : {&standardWindowSensors_, &screenWindowSensors_, &dockSensors_, &menuBarSensors_,
                              &talkingSensors_, &alertTriggers_})
        list->removeAll(found);
    for (const auto& window : std::as_const(historyWindowPrefs_)) {
        if (window)
            window->sensorIdentifierList().removeAll(found);
    }
}

void MachinePreferences::removeTypeInvalidGaugesFromHistoryWindowPreferences()
{
    for (const auto& window : std::as_const(historyWindowPrefs_)) {
        if (!window)
            continue;
        QStringList& list = window->sensorIdentifierList();
        if (list.isEmpty())
            continue;
        const bool allReady = std::all_of(list.cbegin(), list.cend(), [this](const QString& identifier) {
            const auto gauge = availableGauges_.value(identifier);
            return gauge && gauge->isReadyAndConnected();
        });
        if (!allReady)
            continue;
        const qint64 type = availableGauges_.value(list.first())->sensorQuantityType();
        list.removeIf([&](const QString& identifier) { return availableGauges_.value(identifier)->sensorQuantityType() != type; });
    }
}

void MachinePreferences::updateOutdatedSensorNames()
{
    for (const auto& gauge : std::as_const(availableGauges_)) {
        const auto description = gauge ? gauge->sensorDescription() : nullptr;
        if (!description)
            continue;
        const QString raw = description->locationIdentifier();
        const QString localized = gauge->localizedLocation();
        if (gauge->customName() != raw || localized == raw)
            continue;
        gauge->setCustomName(localized);
        gauge->setSpokenName(localized);
        gauge->setShortName(TEVGauge::shortNameSuggestionForName(gauge->customName()));
    }
}

void MachinePreferences::resetGaugesCustomNames(bool customNames, bool shortNames, bool spokenNames, bool formats,
                                                bool colors, bool enabledStates)
{
    for (const auto& gauge : std::as_const(availableGauges_)) {
        if (!gauge)
            continue;
        if (customNames)
            gauge->setCustomName(gauge->localizedLocation());
        if (shortNames)
            gauge->setShortName(TEVGauge::shortNameSuggestionForName(gauge->customName()));
        if (spokenNames)
            gauge->setSpokenName(gauge->localizedLocation());
        if (formats) {
            const auto description = gauge->sensorDescription();
            gauge->setFormatTag(description && description->precision() == 1.0
                                    ? 0
                                    : TEVGauge::defaultFormatTagForQuantityType(gauge->sensorQuantityType()));
        }
        if (colors)
            gauge->setPresentationColor(storedcolor::black());
        if (enabledStates)
            gauge->setEnabled(true);
    }
}

// --- Fonts ------------------------------------------------------------------------------------------------

MachinePreferences::Font MachinePreferences::standardWindowFont() const
{
    return {resolvedFontName(standardWindowFontName_), standardWindowFontSize_};
}

void MachinePreferences::setStandardWindowFontName(const QString& name, float size)
{
    standardWindowFontName_ = name;
    standardWindowFontSize_ = size;
}

MachinePreferences::Font MachinePreferences::screenDisplayFont() const
{
    return {resolvedFontName(screenWindowFontName_), screenWindowFontSize_};
}

void MachinePreferences::setScreenDisplayFontName(const QString& name, float size)
{
    screenWindowFontName_ = name;
    screenWindowFontSize_ = size;
}

MachinePreferences::Font MachinePreferences::menuBarFont() const
{
    return {resolvedFontName(menuBarFontName_), menuBarFontSize_};
}

void MachinePreferences::setMenuBarFontName(const QString& name, float size)
{
    menuBarFontName_ = name;
    menuBarFontSize_ = size;
}
