#include "windows/info/MonitorWindowController.h"

#include "acquisition/MonitoringClient.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/foundation/Bundle.h"

#include <QWidget>

QString infowindows::localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

QString infowindows::withObjects(const QString& format, const QStringList& objects)
{
    QString text;
    qsizetype from = 0;
    for (const QString& object : objects) {
        const qsizetype at = format.indexOf(QLatin1String("%@"), from);
        if (at < 0)
            break;
        text += format.mid(from, at - from) + object;
        from = at + 2;
    }
    return text + format.mid(from);
}

MonitorWindowController::MonitorWindowController(ClientPtr client, QString defaultTitle)
    : monitorClient_(std::move(client))
    , defaultWindowTitle_(std::move(defaultTitle))
{
}

MonitorWindowController::~MonitorWindowController() = default;

void MonitorWindowController::setWindow(std::unique_ptr<QWidget> window)
{
    window_ = std::move(window);
    platform::ApplicationMenuBar::installInto(window_.get());
}

void MonitorWindowController::openWindow()
{
    updateContents();
    if (!window_)
        return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void MonitorWindowController::closeWindow()
{
    if (window_)
        window_->close();
}

void MonitorWindowController::updateContents()
{
    showTitle();
}

void MonitorWindowController::setComputerName(const QString& name)
{
    if (name == computerName_)
        return;
    computerName_ = name;
    // At once: the kinds a tick does not refresh, and hidden windows, show it too.
    showTitle();
}

void MonitorWindowController::showTitle()
{
    if (!window_ || !monitorClient_)
        return;
    const QString name = computerName_.isNull() ? monitorClient_->machineName() : computerName_;
    window_->setWindowTitle(infowindows::withObjects(infowindows::localized(QStringLiteral("%@ - %@")), {defaultWindowTitle_, name}));
}
