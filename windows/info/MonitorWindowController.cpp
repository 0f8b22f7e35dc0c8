#include "windows/info/MonitorWindowController.h"

#include "acquisition/MonitoringClient.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/foundation/Bundle.h"

#include <QWidget>

#include <utility>

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

QWidget* MonitorWindowController::window() const
{
    if (!window_ && maker_) {
        auto* self = const_cast<MonitorWindowController*>(this);
        self->setWindow(std::exchange(self->maker_, {})());
        self->showTitle();
        if (auto action = std::exchange(self->whenMade_, {}); action && window_)
            action(window_.get());
    }
    return window_.get();
}

void MonitorWindowController::whenWindowMade(std::function<void(QWidget*)> action)
{
    if (window_ || !maker_) {
        if (window_ && action)
            action(window_.get());
        return;
    }
    whenMade_ = std::move(action);
}

void MonitorWindowController::openWindow()
{
    updateContents();
    window();
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
    // Filling needs the window.
    window();
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
