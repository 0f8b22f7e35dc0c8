#include "programs/startup/DesktopQuit.h"

#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QSessionManager>

namespace {

// The command that starts the program again in the session `command` names: the program by its full path (Qt
// names it as it was started: a relative path or a bare name need not lead to it at login), then `arguments`.
QStringList restartCommand(QStringList command, const QString& program, const QStringList& arguments)
{
    if (command.isEmpty())
        command.append(program);
    else
        command[0] = program;
    return command + arguments;
}

} // namespace

DesktopQuit::DesktopQuit(QByteArray logName, std::function<void()> save, QStringList restartArguments, QObject* parent)
    : QObject(parent)
    , logName_(std::move(logName))
    , save_(std::move(save))
    , restartArguments_(std::move(restartArguments))
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    app->installEventFilter(this);
    // Direct: the session manager waits for the answer while the handlers run.
    connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) { commitData(manager); },
            Qt::DirectConnection);
    connect(app, &QGuiApplication::saveStateRequest, this, [this](QSessionManager& manager) { saveState(manager); },
            Qt::DirectConnection);
}

DesktopQuit::~DesktopQuit()
{
    if (auto* app = QCoreApplication::instance())
        app->removeEventFilter(this);
}

void DesktopQuit::commitData(QSessionManager&)
{
    askedToSave_ = true;
    platform::log(logName_.constData(), QStringLiteral("the session manager asked to save"));
    if (save_)
        save_();
}

void DesktopQuit::saveState(QSessionManager& manager)
{
    askedToSave_ = true;
    // Started again at the next login as it was left: the same computer, its windows from the preferences.
    manager.setRestartCommand(restartCommand(manager.restartCommand(), QCoreApplication::applicationFilePath(), restartArguments_));
    manager.setRestartHint(QSessionManager::RestartIfRunning);
}

bool DesktopQuit::eventFilter(QObject* watched, QEvent* event)
{
    // The program quits with exit() everywhere, so a quit request to the application comes from the desktop.
    if (watched != QCoreApplication::instance() || event->type() != QEvent::Quit)
        return false;
    platform::log(logName_.constData(), askedToSave_ ? QStringLiteral("the session manager ended the session, quitting")
                                                     : QStringLiteral("the desktop asked to quit, quitting"));
    // exit(), as for a signal: the windows stay open for the controller to record.
    QCoreApplication::exit(0);
    event->accept();
    return true;
}
