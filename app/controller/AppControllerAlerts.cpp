// Alerts and spoken values: what happens when a gauge crosses a threshold, and speech by interval or on
// change.

#include "app/controller/AppController.h"

#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/NSSpeechSynthesizerTEVAdditions.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/SpeechSynthesizer.h"
#include "platform/desktop/UserNotificationCenter.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"

#include <QFile>
#include <QLocale>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <utility>

namespace {

const QString kAlertNotificationIdentifier = QStringLiteral("com.tarnwell.kelvaro.sensor-alert");

QString fill(const QString& format, const QStringList& arguments)
{
    return TEVStringFormat::withObjects(format, arguments);
}

QString userLocaleNumber(double value)
{
    return QLocale().toString(value, 'g', 6);
}

} // namespace

QString AppController::languageCodeOfActiveLocalization()
{
    const QString code = localized(QStringLiteral("LANGUAGE_REFLECTOR"));
    return code.isEmpty() || code == QLatin1String("LANGUAGE_REFLECTOR") ? QStringLiteral("en") : code;
}

void AppController::speak(const QString& text)
{
    const QString language = languageCodeOfActiveLocalization();
    const QString voice = NSSpeechSynthesizerTEVAdditions::bestVoiceToSpeakLanguageWithCode(language);
    if (voice.isEmpty()) {
        if (!std::exchange(warnedNoVoice_, true))
            platform::log(QStringLiteral("WARNING: could not speak because no valid voice for language '%1'.\n").arg(language));
        return;
    }
    // A synthesizer that cannot start says why itself, once.
    platform::SpeechSynthesizer::shared()->startSpeaking(text, voice);
}

bool AppController::writeAlertHandOffFile(const QString& identifier) const
{
    // The path is fixed and in a folder everyone writes: never write through a link, and never take over a
    // file another user made there.
    struct stat st {};
    const QByteArray path = QFile::encodeName(alertHandOffPath_);
    if (::lstat(path.constData(), &st) == 0 && st.st_uid != ::geteuid()) {
        platform::log(QStringLiteral("WARNING: the alert file %1 belongs to another user; it was not written.\n").arg(alertHandOffPath_));
        return false;
    }
    const auto written = platform::Paths::writeFileSafely(alertHandOffPath_, (identifier + QLatin1Char('\n')).toUtf8());
    if (!written) {
        platform::log(QStringLiteral("WARNING: could not write the alert file %1: %2\n").arg(alertHandOffPath_, written.error));
        return false;
    }
    return true;
}

void AppController::raiseAlertForSensorWithIdentifier(const QString& identifier, double value, bool isHigh)
{
    if (identifier.isNull() || !passesAlertHoldOff(identifier))
        return;
    const auto entry = outputCache_.value(identifier);
    const auto gauge = entry ? entry->connectedGauge() : nullptr;
    if (!gauge || !localPreferences_)
        return;
    const MachinePreferences& prefs = *localPreferences_;
    const QString verb = localized(isHigh ? QStringLiteral("exceeded") : QStringLiteral("fallen below"));
    const double limit = isHigh ? gauge->highThreshold() : gauge->lowThreshold();
    // Numbers first, into the format alone: the names filled in after may hold any text.
    const QString text = fill(
        fillNumbers(localized(QStringLiteral("Sensor '%@' has %@ a value of %g. The current value is %g.\nThe alert was "
                                             "registered at %@.")),
                    {plainNumber(limit), plainNumber(value)}),
        {gauge->customName(), verb, TEVTimeUtilities::localizedTextRepresentationForDate(platform::currentDate())});

    if (prefs.alertPlaysSound())
        platform::AlertPresenter::shared()->beep();
    if (prefs.alertUsesVoice() && monitorPreferences_->voiceMode() != 0)
        speak(gauge->spokenStringForPresentationValue(value, true));
    if (prefs.alertSendsGrowl()) {
        if (platform::UserNotificationCenter* center = platform::UserNotificationCenter::defaultCenter()) {
            // At most one alert of the program is shown: the others go, and the last alert is replaced.
            for (const auto& shown : center->deliveredNotifications())
                if (shown.identifier != kAlertNotificationIdentifier)
                    center->removeDeliveredNotification(shown.identifier);
            platform::UserNotification notification;
            notification.identifier = kAlertNotificationIdentifier;
            notification.title = localized(QStringLiteral("Sensor Alert"));
            notification.subtitle = gauge->customName();
            notification.informativeText =
                fill(fillNumbers(localized(QStringLiteral("Value has %@ limit %g (currently %g).")),
                                 {userLocaleNumber(limit), userLocaleNumber(value)}),
                     {verb});
            center->deliverNotification(notification);
        }
    }
    if (prefs.alertOpensWarning())
        windows_.alertPanel->showMessage(text);
    if (prefs.alertLaunchesObject()) {
        writeAlertHandOffFile(identifier); // the object is opened even when the file could not be written
        const QString path = prefs.alertObjectPath();
        if (!platform::Workspace::shared()->openFile(path) && !prefs.alertOpensWarning()) {
            platform::Alert alert;
            alert.style = platform::Alert::Style::Informational;
            alert.messageText = localized(QStringLiteral("Could not open alert object"));
            alert.informativeText = fill(
                fillNumbers(politeLocalized(QStringLiteral(
                                "You have configured to open the object at path '%@' in case of an alert. An attempt to "
                                "open this object has failed.\nNote that sensor '%@' has %@ a value of %g. The current "
                                "value is %g.")),
                            {plainNumber(limit), plainNumber(value)}),
                {path, gauge->customName(), verb});
            alert.buttons = {localized(QStringLiteral("OK"))};
            runAlert(alert);
        }
    }
}

void AppController::checkForVoiceValueChanges()
{
    if (monitorPreferences_->voiceMode() < 2 || !localPreferences_)
        return;
    const double delta = localPreferences_->talkOnCustomizedDelta() ? double(localPreferences_->talkDeltaValue()) : 0.01;
    for (const QString& id : std::as_const(localPreferences_->talkingSensorNames())) {
        const auto entry = outputCache_.value(id);
        // A sensor without a value now has nothing new to say; one not spoken yet has.
        if (!entry || !entry->connectedGauge() || entry->currentValue() == TEVGauge::missingValue)
            continue;
        if (entry->lastSpokenValue() == TEVGauge::missingValue ||
            std::fabs(entry->currentValue() - entry->lastSpokenValue()) > delta) {
            speakActiveValues();
            return;
        }
    }
}

void AppController::speakActiveValues()
{
    if (monitorPreferences_->voiceMode() < 2 || !localPreferences_)
        return;
    QString text;
    bool first = true;
    for (const QString& id : std::as_const(localPreferences_->talkingSensorNames())) {
        const auto entry = outputCache_.value(id);
        const auto gauge = entry ? entry->connectedGauge() : nullptr;
        if (!gauge)
            continue;
        const double value = entry->currentValue();
        if (!first)
            text += QStringLiteral(", ");
        first = false;
        if (value == TEVGauge::missingValue) {
            const QString none = localized(QStringLiteral("no value"));
            text += localPreferences_->talksSensorNames() ? gauge->spokenName() + QStringLiteral(": ") + none : none;
        } else {
            text += gauge->spokenStringForPresentationValue(value, localPreferences_->talksSensorNames());
        }
        entry->cacheSpokenValue(value);
    }
    text += QStringLiteral(" .");
    speak(text);
}

void AppController::updateGaugeAlertsChangingTemperatureUnitFrom(qint64 oldUnit, qint64 newUnit)
{
    // Units with the same first unit keep their thresholds: Celsius first (0, 3), Fahrenheit first (1, 4).
    const auto first = [](qint64 unit) { return unit == 3 ? 0 : unit == 4 ? 1 : unit; };
    if (oldUnit == newUnit || first(oldUnit) == first(newUnit) || !localPreferences_)
        return;
    for (const auto& gauge : std::as_const(localPreferences_->gaugeDictionary()))
        if (gauge)
            gauge->changeTemperatureTriggerUnitFrom(oldUnit, newUnit);
    windows_.preferenceWindow->updatePreferenceWindow();
}
