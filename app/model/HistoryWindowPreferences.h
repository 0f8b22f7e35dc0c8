#pragma once
// HistoryWindowPreferences: the stored settings of one history window and their preference-dictionary
// form (an element of a computer's "HistoryWindows" list). Shared by the per-computer preferences and the
// window that shows it; main thread only.

#include "platform/foundation/Color.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class HistoryWindowPreferences {
public:
    // Slider positions outside this range are clamped when read from a dictionary.
    static constexpr double kMinimumSliderPosition = 1.0;
    static constexpr double kMaximumSliderPosition = 7.0;
    // Points; narrower stored widths are widened when read.
    static constexpr double kMinimumDrawerWidth = 375.0;

    // The localized title of a window made for sensors of one quantity type (1 temperature ... 13 frequency).
    static QString defaultWindowNameForSensorQuantity(qint64 quantityType);

    // Defaults, with a fresh overlay identifier.
    HistoryWindowPreferences();
    // Null for anything but a dictionary. Missing keys keep the defaults; wrongly typed values are logged
    // and keep them too.
    static std::shared_ptr<HistoryWindowPreferences> createWithPreferenceDictionary(const QVariant& dictionary);
    // Every key, with the colour as a sequential archive.
    QVariantMap preferenceProperties() const;

    QString windowName() const { return windowName_; }
    void setWindowName(const QString& name) { windowName_ = name; }
    std::shared_ptr<platform::Color> graphBackgroundColor() const { return graphBackground_; }
    void setGraphBackgroundColor(std::shared_ptr<platform::Color> color); // null is ignored

    bool prefersLongTermMode() const { return longTermMode_; }
    void setPrefersLongTermMode(bool on) { longTermMode_ = on; }
    bool prefersZoomedOutTimeAxis() const { return timeZoomedOut_; }
    void setPrefersZoomedOutTimeAxis(bool on) { timeZoomedOut_ = on; }
    bool opensAtLaunchTime() const { return openOnLaunch_; }
    void setOpensAtLaunchTime(bool on) { openOnLaunch_ = on; }
    bool opensDrawerAtLaunchTime() const { return openDrawer_; }
    void setOpensDrawerAtLaunchTime(bool on) { openDrawer_ = on; }
    bool showsRulersAtLaunchTime() const { return showRulers_; }
    void setShowsRulersAtLaunchTime(bool on) { showRulers_ = on; }
    bool showsCurveLabelsAtLaunchTime() const { return showCurveLabels_; }
    void setShowsCurveLabelsAtLaunchTime(bool on) { showCurveLabels_ = on; }
    // Setters store values unchanged; only reading a dictionary clamps.
    double preferredSliderPosition() const { return scaleSliderPosition_; }
    void setPreferredSliderPosition(double position) { scaleSliderPosition_ = position; }
    double drawerWidth() const { return drawerWidth_; }
    void setDrawerWidth(double width) { drawerWidth_ = width; }

    // Universal gauge identifiers of the curves in display order; callers edit the list in place.
    QStringList& sensorIdentifierList() { return sensorIdentifierList_; }
    const QStringList& sensorIdentifierList() const { return sensorIdentifierList_; }
    // Overlay identifiers of the windows combined into this one; edited in place too.
    QStringList& overlayReferences() { return overlayReferenceList_; }
    const QStringList& overlayReferences() const { return overlayReferenceList_; }

    QString overlayIdentifier() const { return overlayIdentifier_; }
    // Nothing happens for nullopt.
    void setOverlayReferencesFromSet(const std::optional<QSet<QString>>& references);
    // Keeps the references that are members of `identifiers`, in their order; nothing happens for nullopt.
    void removeOutdatedOverlayReferencesUsingIdentifierSet(const std::optional<QSet<QString>>& identifiers);

private:
    QString windowName_;
    std::shared_ptr<platform::Color> graphBackground_;
    bool longTermMode_ = false;
    bool timeZoomedOut_ = false;
    bool openOnLaunch_ = true;
    bool openDrawer_ = false;
    bool showRulers_ = false;
    bool showCurveLabels_ = false;
    double scaleSliderPosition_ = kMinimumSliderPosition;
    QStringList sensorIdentifierList_;
    QStringList overlayReferenceList_;
    QString overlayIdentifier_;
    double drawerWidth_ = kMinimumDrawerWidth;
};
