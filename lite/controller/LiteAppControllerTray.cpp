// The tray item (title, image and menu), the sensor alerts and the hand-over to Kelvaro.

#include "lite/controller/LiteAppController.h"

#include "app/controller/AppController.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/BundleImage.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"

#include <QGuiApplication>
#include <QImage>
#include <QPalette>

namespace lite {

namespace {

QColor systemTextColor()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::palette().color(QPalette::WindowText)
                                                                         : QColor(Qt::black);
}

QFont fontOf(const MachinePreferences::Font& font)
{
    QFont qfont(font.name);
    if (font.size > 0)
        qfont.setPointSizeF(font.size);
    return qfont;
}

QImage liteIcon()
{
    return platform::bundleImage(platform::Bundle::main().get(), AppController::kLiteIcon);
}

} // namespace

std::shared_ptr<platform::StatusItem> AppController::makeStatusItem()
{
    menuValueLines_ = -1;
    return windows_.makeStatusItem();
}

QList<MenuCommand> AppController::menuCommands()
{
    const QString name = localized(kBigSibling);
    return {
        {{}, {}},
        {localized(QStringLiteral("Update all readings now")), [this] { updateAllOutputChannelsAndCache(true); }},
        {{}, {}},
        {localized(QStringLiteral("Connect to Remote Computer...")), [this] { openRemoteConnectPanel(); }},
        {localized(QStringLiteral("Show Remote Connections")), [this] { windows_.connectionWindow->openWindow(); }},
        {{}, {}},
        {TEVStringFormat::withObjects(localized(QStringLiteral("Launch %@ and Quit Lite Version")), {name}),
         [this] { launchBigSibling(); }},
        {TEVStringFormat::withObjects(localized(QStringLiteral("Quit %@ Lite")), {name}), [this] { quit_(); }},
    };
}

void AppController::updateMenuBarDisplay()
{
    const quint64 n = monitorPreferences_ ? monitorPreferences_->numberOfMenuBarValues() : 0;
    // An absent local set acts as an empty one.
    MachinePreferences* prefs = localPreferences_.get();
    const QStringList names = prefs ? prefs->menuBarSensorNames() : QStringList();
    if (!statusItem_)
        statusItem_ = makeStatusItem();

    QStringList lines;
    for (qsizetype i = qsizetype(std::min<quint64>(n, quint64(names.size()))); i < names.size(); ++i) {
        const auto entry = outputCache_.value(names.at(i));
        if (entry && entry->hasValue() && entry->connectedGauge())
            lines.append(entry->connectedGauge()->customName() + QStringLiteral(": ") + entry->stringRepresentation());
    }
    if (menuValueLines_ != lines.size()) {
        statusItem_->setMenuItems(lines);
        menuValueLines_ = lines.size();
    } else {
        // Same count: an open menu keeps its items, only their titles change.
        for (qsizetype k = 0; k < lines.size(); ++k)
            statusItem_->setMenuItemTitle(k, lines.at(k));
    }

    const QColor text = systemTextColor();
    const QFont font = prefs ? fontOf(prefs->menuBarFont()) : QFont();
    if (n > 0) {
        statusItem_->setImage({});
        statusItem_->setTitle(::AppController::menuBarTitle(names, n, outputCache_, prefs && prefs->menuBarDisplaysShortNames(),
                                                            prefs && prefs->menuBarUsesColor(), text),
                              font);
    } else {
        statusItem_->setTitle({}, font);
        statusItem_->setImage(liteIcon());
    }
}

void AppController::raiseAlertForSensorWithIdentifier(const QString& identifier, double value, bool isHigh)
{
    if (identifier.isNull() || !passesAlertHoldOff(identifier))
        return;
    if (!localPreferences_)
        return;
    MachinePreferences& prefs = *localPreferences_;
    const auto entry = outputCache_.value(identifier);
    const auto gauge = entry ? entry->connectedGauge() : nullptr;
    // Without a gauge the sensor is named by its identifier and the limit is unknown.
    const QString name = gauge ? gauge->customName() : identifier;
    const QString limit = gauge ? plainNumber(isHigh ? gauge->highThreshold() : gauge->lowThreshold()) : QStringLiteral("?");
    const QString verb = localized(isHigh ? QStringLiteral("exceeded") : QStringLiteral("fallen below"));
    const QString message = TEVStringFormat::withObjects(
        fillNumbers(localized(QStringLiteral("Sensor '%@' has %@ a value of %g. The current value is %g.\nThe alert was "
                                             "registered at %@.")),
                    {limit, plainNumber(value)}),
        {name, verb, TEVTimeUtilities::localizedTextRepresentationForDate(platform::currentDate())});

    if (prefs.alertPlaysSound())
        platform::AlertPresenter::shared()->beep();
    if (prefs.alertOpensWarning())
        windows_.alertPanel->showMessage(message);
    if (!prefs.alertLaunchesObject())
        return;
    const QString path = prefs.alertObjectPath();
    if (platform::Workspace::shared()->openFile(path) || prefs.alertOpensWarning())
        return;
    platform::Alert alert;
    alert.style = platform::Alert::Style::Informational;
    alert.messageText = localized(QStringLiteral("Could not open alert object"));
    alert.informativeText = TEVStringFormat::withObjects(
        fillNumbers(politeLocalized(QStringLiteral(
                        "You have configured to open the object at path '%@' in case of an alert. An attempt to open this "
                        "object has failed.\nNote that sensor '%@' has %@ a value of %g. The current value is %g.")),
                    {limit, plainNumber(value)}),
        {path, name, verb});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void AppController::launchBigSibling()
{
    // A failed launch is told; the Lite edition keeps running.
    if (launchSibling(kBigSibling, localized(kBigSibling)))
        quit_();
}

} // namespace lite
