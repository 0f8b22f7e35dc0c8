#include "platform/desktop/widgets/PanelKeys.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QTimer>
#include <QWidget>

namespace platform {

namespace {
std::function<void()>& quitHandler()
{
    static std::function<void()> instance;
    return instance;
}
} // namespace

void PanelKeys::setQuitHandler(std::function<void()> quit)
{
    quitHandler() = std::move(quit);
}

void PanelKeys::quit()
{
    if (quitHandler())
        quitHandler()();
    else
        QCoreApplication::exit(0);
}

void PanelKeys::installInto(QWidget* panel, std::function<void()> close)
{
    if (!panel)
        return;
    QPointer<QWidget> guarded(panel);
    const auto closePanel = [guarded, close] {
        if (!guarded)
            return;
        if (close)
            close();
        else
            guarded->close();
    };
    for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, panel);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, panel, closePanel);
    }
    auto* quitKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), panel);
    quitKey->setContext(Qt::WindowShortcut);
    QObject::connect(quitKey, &QShortcut::activated, panel, [guarded, closePanel] {
        if (guarded && guarded->isModal()) {
            closePanel();
            // From the main loop, once the panel's own loop has returned its answer.
            QTimer::singleShot(0, QCoreApplication::instance(), [] { PanelKeys::quit(); });
            return;
        }
        PanelKeys::quit();
    });
}

} // namespace platform
