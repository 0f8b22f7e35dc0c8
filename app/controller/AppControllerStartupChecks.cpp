// The one-shot checks at launch and when a computer becomes ready: computers the program was not made for,
// gauges without colours, stored gauges of sensors no longer supported, and names from older versions.

#include "app/controller/AppController.h"

#include "app/model/MachinePreferences.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/foundation/Bundle.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"

#include <utility>

using platform::Alert;

namespace {

const QString kNotFound = QStringLiteral("*NOTFOUND*");

using ColorList = QList<std::pair<QString, std::shared_ptr<platform::Color>>>;

// There is no system colour list here: the 64 colours of a 4 × 4 × 4 RGB grid, numbered i × 16 + j × 4 + k.
ColorList fallbackColorList()
{
    ColorList list;
    for (quint64 i = 0; i < 4; ++i)
        for (quint64 j = 0; j < 4; ++j)
            for (quint64 k = 0; k < 4; ++k)
                list.append({QStringLiteral("Fallback Color %1").arg(i * 16 + j * 4 + k),
                             platform::Color::rgb(platform::Color::Space::CalibratedRGB, float(i) / 4.0f,
                                                  float(j) / 4.0f, float(k) / 4.0f)});
    return list;
}

// A gauge without a stored colour is drawn black, whatever colour space its black is given in.
bool isBlack(const std::shared_ptr<platform::Color>& color)
{
    return !color || (color->red() == 0.0f && color->green() == 0.0f && color->blue() == 0.0f && color->alpha() == 1.0f);
}

bool isWithdrawnGraphicsSensor(const QString& identifier)
{
    return identifier.startsWith(QLatin1String("hwcontrol.NVDA.-")) || identifier.startsWith(QLatin1String("hwsensor.NVDA.-"));
}

bool isWithdrawnSensor(const QString& identifier)
{
    static const QStringList withdrawn = {QStringLiteral("tarnwell.ia32.voltage"), QStringLiteral("smc.temperature.HV3"),
                                          QStringLiteral("smc.temperature.IQ3"), QStringLiteral("smc.temperature.NUE")};
    return withdrawn.contains(identifier);
}

} // namespace

// --- Model support ---------------------------------------------------------------------------------------

AppController::MachineModel AppController::localMachineModel() const
{
    const auto info = TEVMachineInfo::sharedMachineInfo();
    return info ? MachineModel{info->systemModelCode(), info->systemVendor()} : MachineModel{};
}

bool AppController::isLocalMachineSupportedGetHasShownSubmitDialogs(bool* shownDialogs)
{
    *shownDialogs = false;
    const MachineModel model = localMachineModel();
    const auto bundle = platform::Bundle::main();
    if (bundle && bundle->localizedString(model.modelCode, kNotFound, QStringLiteral("ModelCodes")) != kNotFound)
        return true;
    if (model.vendor.isEmpty() || !model.vendor.startsWith(QLatin1String("Apple"))) {
        Alert alert;
        alert.messageText = localized(QStringLiteral("This is not an Apple-branded computer."));
        alert.informativeText = localized(QStringLiteral(
            "The application was only designed for computers made by Apple. Other vendors cannot provide the hardware "
            "component for sensor access expected by the operating system."));
        alert.buttons = {localized(QStringLiteral("OK"))};
        runAlert(alert);
        *shownDialogs = true;
    }
    return false;
}

// --- Colours ---------------------------------------------------------------------------------------------

void AppController::checkForUncoloredGauges()
{
    if (!localPreferences_)
        return;
    const auto& gauges = localPreferences_->gaugeDictionary();
    if (gauges.isEmpty())
        return;
    for (const auto& gauge : gauges)
        if (gauge && !isBlack(gauge->presentationColor()))
            return;
    Alert alert;
    alert.style = Alert::Style::Informational;
    alert.messageText = localized(QStringLiteral(
        "You have not defined colors for the display of sensors. Do you want to change this now?"));
    alert.informativeText = localized(QStringLiteral(
        "For the display in history graphs, all sensors are still set to a black default color. By pressing 'Yes' the "
        "application will automatically choose different colors for all sensors."));
    alert.buttons = {localized(QStringLiteral("Yes")), localized(QStringLiteral("No"))};
    if (runAlert(alert) == 0)
        resetAllGaugeColors();
}

void AppController::resetAllGaugeColors()
{
    if (!localPreferences_)
        return;
    const ColorList colors = fallbackColorList();
    // The gauge dictionary is ordered by identifier, so every run hands out the same colours.
    qsizetype n = 0;
    for (const auto& gauge : std::as_const(localPreferences_->gaugeDictionary())) {
        if (gauge)
            gauge->setPresentationColor(colors.at(n % colors.size()).second);
        ++n;
    }
    windows_.preferenceWindow->updatePreferenceWindow();
    updateAllOutputChannelsAndCache(true);
}

// --- Withdrawn sensors -----------------------------------------------------------------------------------

void AppController::removeDisconnectedGauges(const std::function<bool(const QString&)>& withdrawn)
{
    if (!localPreferences_)
        return;
    QList<std::shared_ptr<TEVGauge>> removed;
    const auto& gauges = localPreferences_->gaugeDictionary();
    for (auto it = gauges.cbegin(); it != gauges.cend(); ++it)
        if (it.value() && !it.value()->connectedMonitoringClient() && withdrawn(it.key()))
            removed.append(it.value());
    for (const auto& gauge : std::as_const(removed))
        localPreferences_->removeAllReferencesToGauge(gauge);
    if (!removed.isEmpty())
        handleConfigurationChangeOnClient(nullptr);
}

void AppController::checkForDeactivatedGF6800Sensors()
{
    removeDisconnectedGauges(isWithdrawnGraphicsSensor);
}

void AppController::checkForWithdrawnSensorSupport()
{
    removeDisconnectedGauges(isWithdrawnSensor);
}

// --- Names of older versions -----------------------------------------------------------------------------

void AppController::checkForOutdatedSensorDesignations()
{
    if (!localPreferences_ || localPreferences_->avoidsCheckForOutdatedSensorNames())
        return;
    QString raw, location;
    for (const auto& gauge : std::as_const(localPreferences_->gaugeDictionary())) {
        const auto description = gauge ? gauge->sensorDescription() : nullptr;
        if (!description)
            continue;
        const QString identifier = description->locationIdentifier();
        if (gauge->customName() == identifier && gauge->localizedLocation() != identifier) {
            raw = identifier;
            location = gauge->localizedLocation();
            break;
        }
    }
    if (raw.isNull())
        return;
    Alert alert;
    alert.style = Alert::Style::Informational;
    alert.messageText = localized(QStringLiteral(
        "'Raw' sensor designations have been found in your preferences. Do you like to update the sensor names?"));
    alert.informativeText = TEVStringFormat::withObjects(
        localized(QStringLiteral(
            "You seem to have created your preference set with a previous version of the application which could not "
            "fully support all sensors of your computer yet. For this reason, some of the sensors are currently labeled "
            "with their firmware designations only, not with a user-friendly name. For example, the sensor '%@' should "
            "be renamed to '%@'.\n\nBy pressing 'yes', all customized sensor names, short sensor names and speech output "
            "names of the affected sensors will be updated automatically. By selecting 'no', the preferences won't be "
            "touched and the message will not reappear again.")),
        {raw, location});
    alert.buttons = {localized(QStringLiteral("Yes")), localized(QStringLiteral("No"))};
    const int answer = runAlert(alert);
    // The alert's nested loop may have ended or relaunched the local computer.
    if (!localPreferences_)
        return;
    if (answer == 0) {
        localPreferences_->updateOutdatedSensorNames();
        windows_.preferenceWindow->updatePreferenceWindow();
    } else {
        localPreferences_->setAvoidsCheckForOutdatedSensorNames(true);
    }
}
