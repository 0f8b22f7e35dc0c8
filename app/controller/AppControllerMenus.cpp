// The menus' actions: most set one global or per-computer preference and refresh what shows it; the rest
// open a window another part owns. Also the check marks of the stateful menus and their validation.

#include "app/controller/AppController.h"

#include "acquisition/MonitoringClient.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "platform/desktop/AlertPresenter.h"

#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace {

// The tags of the stateful menus.
constexpr qint64 kMenuBarNoValues = 4290;
constexpr qint64 kDockOneLine = 4310, kDockTwoLines = 4320, kDockNoValues = 4330;
constexpr qint64 kSpeechAll = 4410, kSpeechAlertsOnly = 4420, kSpeechOff = 4430;
constexpr qint64 kStandardWindowTag = 2000, kScreenDisplayFontTag = 3000;
constexpr qint64 kStandardWindowRatioTag = 4000, kScreenDisplayRatioTag = 5000;
constexpr qint64 kHistoryBackgroundTag = 6000;
constexpr float kDefaultLabelRatio = 2.4f;

// A menu-bar count for a tag of "menuBarMenu": 0 for its "none" item, else (tag - 4200) / 10 as uint8.
quint8 menuBarCountForTag(qint64 tag)
{
    return tag == kMenuBarNoValues ? 0 : quint8((tag - 4200) / 10);
}

bool isGuiApplication()
{
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

std::shared_ptr<platform::Color> systemWindowBackground()
{
    const QColor c = isGuiApplication() ? QApplication::palette().color(QPalette::Window) : QColor(Qt::lightGray);
    return platform::Color::rgb(platform::Color::Space::CalibratedRGB, float(c.redF()), float(c.greenF()),
                                float(c.blueF()), float(c.alphaF()));
}

} // namespace

// --- Validation and check marks --------------------------------------------------------------------------

void AppController::setMenuWindow(QWidget* window)
{
    menuWindow_ = window;
}

QWidget* AppController::mainWindow() const
{
    if (menuWindow_)
        return menuWindow_;
    if (mainWindowLookup_)
        return mainWindowLookup_();
    return isGuiApplication() ? QApplication::activeWindow() : nullptr;
}

bool AppController::mainWindowIsStandardSensorWindow() const
{
    QWidget* main = mainWindow();
    return main && standardWindowController_ && standardWindowController_->window() == main;
}

bool AppController::validateMenuItem(qint64 tag) const
{
    switch (tag) {
    case 2010:
    case 2040:
        return mainWindow() != nullptr;
    case 2020:
        return mainWindowIsStandardSensorWindow() || historyWindowControllerForWindow(mainWindow()) != nullptr;
    default:
        return true;
    }
}

bool AppController::isMenuItemChecked(const QString& menu, qint64 tag) const
{
    const MonitorPreferences& prefs = *monitorPreferences_;
    if (menu == QLatin1String("menuBarMenu")) {
        const quint8 count = quint8(prefs.numberOfMenuBarValues() & 0xff);
        if (tag == kMenuBarNoValues)
            return count == 0;
        return tag >= 4210 && tag <= 4280 && tag % 10 == 0 && count == menuBarCountForTag(tag);
    }
    if (menu == QLatin1String("dockMenu") || menu == QLatin1String("dockContextMenu")) {
        const quint8 count = quint8(prefs.numberOfDockValues() & 0xff);
        return (tag == kDockOneLine && count == 1) || (tag == kDockTwoLines && count == 2) ||
               (tag == kDockNoValues && count == 0);
    }
    if (menu == QLatin1String("speechMenu")) {
        const qint64 mode = prefs.voiceMode();
        return (tag == kSpeechAll && mode == 2) || (tag == kSpeechAlertsOnly && mode == 1) ||
               (tag == kSpeechOff && mode == 0);
    }
    return false;
}

void AppController::updateStatefulMenuItems()
{
    if (menuStateObserver_)
        menuStateObserver_();
}

QString AppController::screenWindowMenuItemTitle() const
{
    return localized(screenDisplayController_ && screenDisplayController_->isWindowVisible()
                         ? QStringLiteral("Hide Screen Display")
                         : QStringLiteral("Show Screen Display"));
}

// --- Stateful menus --------------------------------------------------------------------------------------

void AppController::changeMenuBarDisplay(qint64 tag)
{
    monitorPreferences_->setNumberOfMenuBarValues(menuBarCountForTag(tag));
    updateStatefulMenuItems();
    updateMenuBarDisplay();
    windows_.preferenceWindow->updatePreferenceWindow();
}

void AppController::changeDockDisplay(qint64 tag)
{
    if (tag == kDockOneLine)
        monitorPreferences_->setNumberOfDockValues(1);
    else if (tag == kDockTwoLines)
        monitorPreferences_->setNumberOfDockValues(2);
    else if (tag == kDockNoValues)
        monitorPreferences_->setNumberOfDockValues(0);
    updateStatefulMenuItems();
    updateDockDisplay();
    windows_.preferenceWindow->updatePreferenceWindow();
}

void AppController::changeVoiceMode(qint64 tag)
{
    if (tag == kSpeechAll)
        monitorPreferences_->setVoiceMode(2);
    else if (tag == kSpeechAlertsOnly)
        monitorPreferences_->setVoiceMode(1);
    else if (tag == kSpeechOff)
        monitorPreferences_->setVoiceMode(0);
    updateStatefulMenuItems();
    windows_.preferenceWindow->updatePreferenceWindow();
}

// --- Fonts, label ratios and colours -----------------------------------------------------------------------

void AppController::resetMenuBarFont()
{
    if (!localPreferences_)
        return;
    localPreferences_->setMenuBarFontName(MachinePreferences::systemFontName(), 14.0f);
    windows_.preferenceWindow->updatePreferenceWindow();
}

void AppController::setWindowDefaultFont(qint64 tag)
{
    if (!localPreferences_)
        return;
    if (tag == kStandardWindowTag)
        localPreferences_->setStandardWindowFontName(MachinePreferences::systemFontName(), 24.0f);
    else if (tag == kScreenDisplayFontTag)
        localPreferences_->setScreenDisplayFontName(MachinePreferences::systemFontName(), 24.0f);
    windows_.preferenceWindow->updatePreferenceWindow();
}

void AppController::setWindowDefaultLabelRatio(qint64 tag)
{
    if (!localPreferences_)
        return;
    if (tag == kStandardWindowRatioTag)
        localPreferences_->setStandardWindowFontRatio(kDefaultLabelRatio);
    else if (tag == kScreenDisplayRatioTag)
        localPreferences_->setScreenDisplayFontRatio(kDefaultLabelRatio);
    windows_.preferenceWindow->updatePreferenceWindow();
}

void AppController::resetWindowBackgroundColor(qint64 tag)
{
    if (!localPreferences_)
        return;
    if (tag == kStandardWindowTag) {
        localPreferences_->setStandardWindowBackground(systemWindowBackground());
    } else if (tag == kHistoryBackgroundTag) {
        std::shared_ptr<HistoryWindowPreferences> history;
        qint64 row = 0, count = 0;
        // Without exactly one selected history window there is nothing to reset and nothing to refresh.
        if (!getSelectedHistoryWindowPreferences(&history, &row, &count) || !history)
            return;
        history->setGraphBackgroundColor(systemWindowBackground());
    }
    windows_.preferenceWindow->updatePreferenceWindow();
    updateAllOutputChannelsAndCache(true);
}

void AppController::resetSensorColors()
{
    platform::Alert alert;
    alert.messageText = localized(QStringLiteral("Do you really want to reset all sensor colors?"));
    alert.informativeText = localized(
        QStringLiteral("This will overwrite the current color settings for all sensors on all connected computers."));
    alert.buttons = {localized(QStringLiteral("No")), localized(QStringLiteral("Yes"))};
    if (runAlert(alert) != 0)
        resetAllGaugeColors();
}

// --- Readings ---------------------------------------------------------------------------------------------

void AppController::save()
{
    if (mainWindowIsStandardSensorWindow())
        exportStandardSensorReadings();
    else if (const auto history = historyWindowControllerForWindow(mainWindow()))
        exportHistoryDataForWindowController(history);
}

void AppController::enforceUpdateOfReadings()
{
    updateAllOutputChannelsAndCache(true);
}

void AppController::rescanForSensors()
{
    for (const auto& client : clientsSnapshot())
        client->rescanForSensors();
}

void AppController::clearShortTermHistory()
{
    for (const auto& client : clientsSnapshot())
        client->clearShortTermHistories();
    updateHistoryWindows();
}

// --- Windows ----------------------------------------------------------------------------------------------

QWidget* AppController::openSensorWindow()
{
    if (!standardWindowController_)
        return nullptr;
    standardWindowController_->showWindow();
    updateStandardWindow();
    return standardWindowController_->window();
}

void AppController::toggleScreenWindow()
{
    if (!screenDisplayController_)
        return;
    if (screenDisplayController_->isWindowVisible()) {
        screenDisplayController_->orderOut();
    } else {
        screenDisplayController_->showWindow();
        updateScreenDisplay();
    }
    updateStatefulMenuItems();
}

void AppController::repositionScreenWindow()
{
    if (screenDisplayController_)
        screenDisplayController_->centerOnScreen();
}

void AppController::openMinMaxWindow()
{
    if (!minMaxWindowController_)
        return;
    minMaxWindowController_->updateWindow();
    minMaxWindowController_->showWindow();
}

void AppController::closeHistoryWindows()
{
    for (const auto& history : QList(historyWindowControllers_))
        history->closeWindow();
}

void AppController::combineHistoryWindows()
{
    windows_.compositingInspector->openInspector();
}

void AppController::openMonitorWindows(const QString& className)
{
    if (const auto factory = windowFactories_.value(className))
        factory->openAllWindows();
}

void AppController::openRemoteConnectionWindow()
{
    windows_.connectionWindow->openWindow();
}

void AppController::launchSmallSibling()
{
    // Lite reads the preferences as it starts, maybe before this program's quit has written them: written first.
    // A failed launch is told; this program keeps running.
    writePreferences();
    if (launchSibling(QStringLiteral("KelvaroLite"), localized(QStringLiteral("Kelvaro Lite"))))
        quit();
}

void AppController::quit()
{
    if (quitHandler_)
        quitHandler_();
    else
        QCoreApplication::exit(0);
}

void AppController::resetAllGauges()
{
    const auto choice = windows_.runGaugeResetPanel();
    if (!choice || !localPreferences_)
        return;
    const GaugeResetChoice& c = *choice;
    localPreferences_->resetGaugesCustomNames(c.customNames, c.shortNames, c.spokenNames, c.formats, c.colors,
                                              c.enabledStates);
    rebuildGaugeOutlineRepresentations();
    updateAllOutputChannelsAndCache(true);
}
