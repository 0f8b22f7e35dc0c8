#pragma once
// MachinePreferences: the preference set of one monitored computer — its gauges by universal gauge
// identifier, the gauge lists of every output channel, the looks of the windows, speech, alerts, history
// windows, probes and LCD modules. Owned by the global preferences (filed by serial number); main thread.

#include "acquisition/TEVSensorSource.h"
#include "platform/foundation/Color.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class HistoryWindowPreferences;
class TEVGauge;
class MonitoringClient;

class MachinePreferences {
public:
    using GaugeMap = QMap<QString, std::shared_ptr<TEVGauge>>;           // universal identifier → gauge
    using Map = QMap<QString, std::shared_ptr<MachinePreferences>>;      // serial number → set
    using HistoryWindowList = QList<std::shared_ptr<HistoryWindowPreferences>>;

    // A font as the preferences keep it: a family name and a size in points. Whoever draws makes the font;
    // the getters answer the system font's family when no installed font has the stored name.
    struct Font {
        QString name;
        float size = 0.0f;
        bool operator==(const Font&) const = default;
    };

    // The set of every computer stored under `key`; nothing for a null key, empty when the key is absent
    // or holds no dictionary. Entries that give no set are left out.
    static std::optional<Map> allMachinePreferencesFromUserDefaultsWithKey(const QString& key);
    // The first-generation set: defaults plus the screen display's colour, shadow and transparency that
    // were kept at the top level of the user defaults.
    static std::shared_ptr<MachinePreferences> machinePreferencesFromUserDefaultsVersion1();

    // The family of the default system font; without a GUI application a generic family name.
    static QString systemFontName();

    MachinePreferences();
    ~MachinePreferences();
    MachinePreferences(const MachinePreferences&) = delete;
    MachinePreferences& operator=(const MachinePreferences&) = delete;

    // Defaults plus a gauge for every sensor of the client; null for a null client.
    static std::shared_ptr<MachinePreferences> createForLocalClient(const std::shared_ptr<MonitoringClient>& client);
    // A stored set; null for no dictionary.
    static std::shared_ptr<MachinePreferences> createWithDefaultsDictionary(const std::optional<QVariantMap>& dictionary);

    // The stored form. Drops overlay references of the history windows to windows no longer in this set.
    QVariantMap defaultsDictionary();
    GaugeMap& gaugeDictionary() { return availableGauges_; }
    const GaugeMap& gaugeDictionary() const { return availableGauges_; }

    // Makes gauges for sensors not yet known and files them in the channel lists and history windows.
    // Identifiers that already have a gauge are passed over, so a customised gauge is never replaced.
    // Returns how many gauges were made (a sensor the client cannot describe yet gets none).
    qsizetype addNewSensorsWithUniversalIdentifiers(const QStringList& identifiers,
                                                    const std::shared_ptr<TEVSensorSource>& client);
    // By identity: the gauge object filed in this set, with every list entry that names it.
    void removeAllReferencesToGauge(const std::shared_ptr<TEVGauge>& gauge);
    void removeTypeInvalidGaugesFromHistoryWindowPreferences();
    void updateOutdatedSensorNames();
    void resetGaugesCustomNames(bool customNames, bool shortNames, bool spokenNames, bool formats, bool colors,
                                bool enabledStates);

    // --- Accessors: setters store unchanged (clamping happens only when reading stored sets) -----------
    bool avoidsCheckForOutdatedSensorNames() const { return dontCheckForOutdatedNames_; }
    void setAvoidsCheckForOutdatedSensorNames(bool value) { dontCheckForOutdatedNames_ = value; }

    std::shared_ptr<platform::Color> standardWindowBackground() const { return standardWindowBackground_; }
    void setStandardWindowBackground(const std::shared_ptr<platform::Color>& color) { standardWindowBackground_ = color; }
    bool standardWindowVertical() const { return standardWindowVertical_; }
    void setStandardWindowVertical(bool value) { standardWindowVertical_ = value; }
    bool standardWindowUsesForeground() const { return standardWindowUsesForeground_; }
    void setStandardWindowUsesForeground(bool value) { standardWindowUsesForeground_ = value; }
    std::shared_ptr<platform::Color> standardWindowForeground() const { return standardWindowForeground_; }
    void setStandardWindowForeground(const std::shared_ptr<platform::Color>& color) { standardWindowForeground_ = color; }
    Font standardWindowFont() const;
    void setStandardWindowFontName(const QString& name, float size);
    float standardWindowFontRatio() const { return standardWindowFontRatio_; }
    void setStandardWindowFontRatio(float value) { standardWindowFontRatio_ = value; }
    qint64 standardWindowAlignment() const { return standardWindowAlignment_; }
    void setStandardWindowAlignment(qint64 value) { standardWindowAlignment_ = value; }
    QStringList& standardWindowSensorNames() { return standardWindowSensors_; }

    bool screenDisplayVertical() const { return screenWindowVertical_; }
    void setScreenDisplayVertical(bool value) { screenWindowVertical_ = value; }
    bool screenDisplayUsesForeground() const { return screenWindowUsesForeground_; }
    void setScreenDisplayUsesForeground(bool value) { screenWindowUsesForeground_ = value; }
    std::shared_ptr<platform::Color> screenDisplayForeground() const { return screenWindowForeground_; }
    void setScreenDisplayForeground(const std::shared_ptr<platform::Color>& color) { screenWindowForeground_ = color; }
    // 0 transparent .. 1 opaque.
    float screenDisplayTransparency() const { return screenWindowTransparency_; }
    void setScreenDisplayTransparency(float value) { screenWindowTransparency_ = value; }
    bool screenDisplayHasShadow() const { return screenWindowHasShadow_; }
    void setScreenDisplayHasShadow(bool value) { screenWindowHasShadow_ = value; }
    Font screenDisplayFont() const;
    void setScreenDisplayFontName(const QString& name, float size);
    float screenDisplayFontRatio() const { return screenWindowFontRatio_; }
    void setScreenDisplayFontRatio(float value) { screenWindowFontRatio_ = value; }
    bool screenDisplayIsBackdrop() const { return screenWindowIsBackdrop_; }
    void setScreenDisplayIsBackdrop(bool value) { screenWindowIsBackdrop_ = value; }
    bool screenDisplayIsFixed() const { return screenWindowIsFixed_; }
    void setScreenDisplayIsFixed(bool value) { screenWindowIsFixed_ = value; }
    qint64 screenDisplayAlignment() const { return screenWindowAlignment_; }
    void setScreenDisplayAlignment(qint64 value) { screenWindowAlignment_ = value; }
    QStringList& screenDisplaySensorNames() { return screenWindowSensors_; }

    bool dockUsesTextDisplay() const { return dockUsesTextDisplay_; }
    void setDockUsesTextDisplay(bool value) { dockUsesTextDisplay_ = value; }
    bool dockTextUsesDefaultColors() const { return dockTextUsesDefaultColors_; }
    void setDockTextUsesDefaultColors(bool value) { dockTextUsesDefaultColors_ = value; }
    std::shared_ptr<platform::Color> dockTextColor() const { return dockTextColor_; }
    void setDockTextColor(const std::shared_ptr<platform::Color>& color) { dockTextColor_ = color; }
    QStringList& dockSensorNames() { return dockSensors_; }

    bool menuBarDisplaysShortNames() const { return displaysShortNames_; }
    void setMenuBarDisplaysShortNames(bool value) { displaysShortNames_ = value; }
    bool menuBarUsesColor() const { return menuBarUsesColor_; }
    void setMenuBarUsesColor(bool value) { menuBarUsesColor_ = value; }
    Font menuBarFont() const;
    void setMenuBarFontName(const QString& name, float size);
    QStringList& menuBarSensorNames() { return menuBarSensors_; }

    HistoryWindowList& historyWindowPreferences() { return historyWindowPrefs_; }

    bool talksInIntervals() const { return talksInIntervals_; }
    void setTalksInIntervals(bool value) { talksInIntervals_ = value; }
    quint64 talkIntervalMultiplier() const { return talkIntervalMultiplier_; }
    void setTalkIntervalMultiplier(quint64 value) { talkIntervalMultiplier_ = value; }
    bool talkOnCustomizedDelta() const { return talkOnCustomizedDelta_; }
    void setTalkOnCustomizedDelta(bool value) { talkOnCustomizedDelta_ = value; }
    float talkDeltaValue() const { return talkDeltaValue_; }
    void setTalkDelta(float value) { talkDeltaValue_ = value; }
    bool talksSensorNames() const { return talksSensorNames_; }
    void setTalksSensorNames(bool value) { talksSensorNames_ = value; }
    QStringList& talkingSensorNames() { return talkingSensors_; }

    QStringList& alertTriggerSensorNames() { return alertTriggers_; }
    bool alertOpensWarning() const { return alertOpensWarning_; }
    void setAlertOpensWarning(bool value) { alertOpensWarning_ = value; }
    bool alertPlaysSound() const { return alertPlaysSound_; }
    void setAlertPlaysSound(bool value) { alertPlaysSound_ = value; }
    bool alertUsesVoice() const { return alertUsesVoice_; }
    void setAlertUsesVoice(bool value) { alertUsesVoice_ = value; }
    // The alert posts a user notification.
    bool alertSendsGrowl() const { return alertSendsGrowl_; }
    void setAlertSendsGrowl(bool value) { alertSendsGrowl_ = value; }
    bool alertLaunchesObject() const { return alertOpensObject_; }
    void setAlertLaunchesObject(bool value) { alertOpensObject_ = value; }
    // File or application opened on an alert.
    QString alertObjectPath() const { return alertObjectPath_; }
    void setAlertObjectPath(const QString& path) { alertObjectPath_ = path; }

    // Probe dictionaries and LCD module settings are passed through as stored.
    QVariantList probeDescriptions() const { return probeDescriptions_; }
    void setProbeDescriptions(const QVariantList& probes) { probeDescriptions_ = probes; }
    QVariantMap lcdModuleDescriptions() const { return lcdModules_; }
    // A missing value is ignored.
    void setLCDModuleDescriptions(const std::optional<QVariantMap>& modules)
    {
        if (modules)
            lcdModules_ = *modules;
    }

private:
    void readDefaultsDictionary(const QVariantMap& dictionary);

    GaugeMap availableGauges_;
    bool dontCheckForOutdatedNames_ = false;
    std::shared_ptr<platform::Color> standardWindowBackground_;
    bool standardWindowVertical_ = false;
    bool standardWindowUsesForeground_ = true;
    std::shared_ptr<platform::Color> standardWindowForeground_;
    QString standardWindowFontName_;
    float standardWindowFontSize_ = 24.0f;
    float standardWindowFontRatio_ = 2.4f;
    qint64 standardWindowAlignment_ = 1;
    QStringList standardWindowSensors_;
    bool screenWindowVertical_ = false;
    bool screenWindowUsesForeground_ = true;
    std::shared_ptr<platform::Color> screenWindowForeground_;
    float screenWindowTransparency_ = 1.0f;
    bool screenWindowHasShadow_ = true;
    QString screenWindowFontName_;
    float screenWindowFontSize_ = 24.0f;
    float screenWindowFontRatio_ = 2.4f;
    bool screenWindowIsBackdrop_ = false;
    bool screenWindowIsFixed_ = false;
    qint64 screenWindowAlignment_ = 1;
    QStringList screenWindowSensors_;
    bool dockUsesTextDisplay_ = false;
    bool dockTextUsesDefaultColors_ = true;
    std::shared_ptr<platform::Color> dockTextColor_;
    QStringList dockSensors_;
    bool displaysShortNames_ = true;
    bool menuBarUsesColor_ = false;
    QString menuBarFontName_;
    float menuBarFontSize_ = 14.0f;
    QStringList menuBarSensors_;
    HistoryWindowList historyWindowPrefs_;
    bool talksInIntervals_ = false;
    quint64 talkIntervalMultiplier_ = 10;
    bool talkOnCustomizedDelta_ = false;
    float talkDeltaValue_ = 0.1f;
    bool talksSensorNames_ = false;
    QStringList talkingSensors_;
    QStringList alertTriggers_;
    bool alertOpensWarning_ = true;
    bool alertPlaysSound_ = true;
    bool alertUsesVoice_ = false;
    bool alertSendsGrowl_ = false;
    bool alertOpensObject_ = false;
    QString alertObjectPath_ = QStringLiteral("");
    QVariantList probeDescriptions_;
    QVariantMap lcdModules_;
};
