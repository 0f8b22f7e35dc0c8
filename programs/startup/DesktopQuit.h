#pragma once
// DesktopQuit: the quit that the desktop asks for, made the program's own. At a logout the session manager
// (XSMP) first asks the program to save, then tells it to die, which Qt turns into a quit request that closes
// every window before the loop ends: the windows on screen would be recorded as closed and the import offer
// answered by its window's close. Here that request becomes the same exit as a signal's or the menu's, and the
// program's restart command keeps the computer it monitors. Owned by ProgramStartup; main thread.

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <functional>

class QSessionManager;

class DesktopQuit final : public QObject {
public:
    // `save` runs when the session manager asks the program to save; `restartArguments` follow the program
    // and its session in the command that starts it again.
    DesktopQuit(QByteArray logName, std::function<void()> save, QStringList restartArguments, QObject* parent = nullptr);
    ~DesktopQuit() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void commitData(QSessionManager& manager);
    void saveState(QSessionManager& manager);

    QByteArray logName_;
    std::function<void()> save_;
    QStringList restartArguments_;
    bool askedToSave_ = false;
};
