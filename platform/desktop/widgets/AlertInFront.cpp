#include "platform/desktop/widgets/AlertInFront.h"

#include "platform/desktop/widgets/WindowPosition.h"

#include <QApplication>
#include <QEvent>
#include <QHash>
#include <QList>
#include <QScopedValueRollback>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>

namespace platform {
namespace {

// The open alerts, the one opened first first: an alert opened over another stays over it.
QList<QPointer<QWidget>>& openAlerts()
{
    static QList<QPointer<QWidget>> alerts;
    return alerts;
}

// The window each open alert belongs to, by the alert.
QHash<QWidget*, std::function<QWidget*()>>& alertOwners()
{
    static QHash<QWidget*, std::function<QWidget*()>> owners;
    return owners;
}

// How many of the open alerts wait for an answer: the displays step aside while one does.
int g_waitingAlerts = 0;

// The windows that step aside while an alert waits, and whether each was hidden for one.
struct AsideWindow {
    QPointer<QWidget> window;
    bool hidden = false;
};
QList<AsideWindow>& asideWindows()
{
    static QList<AsideWindow> windows;
    return windows;
}
bool g_hidingAside = false;

void hideAsideWindows()
{
    if (platformStacksWindows())
        return;
    asideWindows().removeIf([](const AsideWindow& aside) { return !aside.window; });
    for (AsideWindow& aside : asideWindows()) {
        if (!aside.window->isVisible())
            continue;
        aside.hidden = true;
        const QScopedValueRollback hiding(g_hidingAside, true);
        aside.window->hide();
    }
}

void showAsideWindows()
{
    asideWindows().removeIf([](const AsideWindow& aside) { return !aside.window; });
    for (AsideWindow& aside : asideWindows())
        if (std::exchange(aside.hidden, false))
            aside.window->show();
}

AsideWindow* asideWindowOf(QObject* object)
{
    for (AsideWindow& aside : asideWindows())
        if (aside.window == object)
            return &aside;
    return nullptr;
}

void raiseOpenAlerts()
{
    for (const QPointer<QWidget>& alert : std::as_const(openAlerts()))
        if (alert && alert->isVisible())
            alert->raise();
}

void showAgainWhereUnmapped(const QPointer<QWidget>& alert, int triesLeft)
{
    if (!alert || !alert->isVisible() || !alert->windowHandle() || alert->windowHandle()->isExposed() || triesLeft <= 0)
        return;
    alert->hide();
    alert->show();
    QTimer::singleShot(1000, alert, [alert, triesLeft] { showAgainWhereUnmapped(alert, triesLeft - 1); });
}

// Where no client can raise a window, the alerts are shown anew, mapped after `window` and so over it; the
// first belongs to it from then on (a transient parent of its platform window only: the alert stays the child
// of the widget it had, which a window that goes would otherwise take with it).
void showOpenAlertsOver(QWidget* window)
{
    openAlerts().removeAll(nullptr);
    if (openAlerts().isEmpty())
        return;
    const QList<QPointer<QWidget>> alerts = openAlerts();
    for (auto it = alerts.crbegin(); it != alerts.crend(); ++it)
        (*it)->hide();
    // The first keeps the window it belongs to, now that it shows, whichever window mapped last: a desktop
    // puts an alert beside and over its own window, and one given to a display that lies below the others
    // (or shows nothing) would open at the screen's edge, under them.
    const auto owner = alertOwners().value(alerts.constFirst());
    QWidget* const given = owner ? owner() : nullptr;
    if (QWindow* first = alerts.constFirst()->windowHandle();
        first && given && given != alerts.constFirst() && given->windowHandle() && given->windowHandle()->isExposed())
        first->setTransientParent(given->windowHandle());
    Q_UNUSED(window);
    for (const QPointer<QWidget>& alert : alerts)
        if (alert)
            alert->show();
    // An X11 window manager may take the withdrawal of the window hidden a moment ago for one of the window
    // shown again (KWin does, now and then): one not mapped soon after is shown once more.
    for (const QPointer<QWidget>& alert : alerts)
        if (alert)
            QTimer::singleShot(1000, alert, [alert] { showAgainWhereUnmapped(alert, 5); });
}

// Once `window` has mapped (its first frame a turn or more after its show event), the alerts go over it; a
// window that never maps within some seconds is given up on.
void bringOpenAlertsOver(const QPointer<QWidget>& window, int triesLeft)
{
    if (!window || !window->isVisible() || openAlerts().isEmpty())
        return;
    if (platformStacksWindows()) {
        raiseOpenAlerts();
        return;
    }
    if (!(window->windowHandle() && window->windowHandle()->isExposed())) {
        if (triesLeft > 0)
            QTimer::singleShot(20, window, [window, triesLeft] { bringOpenAlertsOver(window, triesLeft - 1); });
        return;
    }
    showOpenAlertsOver(window);
}

} // namespace

void stepAsideForAlerts(QWidget* window, bool stepsAside)
{
    if (AsideWindow* aside = asideWindowOf(window)) {
        if (!stepsAside) {
            const bool hidden = aside->hidden;
            asideWindows().removeIf([window](const AsideWindow& other) { return other.window == window; });
            if (hidden)
                window->show();
        }
        return;
    }
    if (!stepsAside || !window)
        return;
    asideWindows().append({window});
    if (g_waitingAlerts > 0)
        hideAsideWindows();
}

AlertInFront::AlertInFront(QWidget* alert, std::function<QWidget*()> owner, bool waitsForAnswer)
    : alert_(alert)
    , waitsForAnswer_(waitsForAnswer)
{
    openAlerts().removeAll(nullptr);
    if (waitsForAnswer_ && g_waitingAlerts++ == 0)
        hideAsideWindows();
    openAlerts().append(alert_);
    if (owner)
        alertOwners().insert(alert, std::move(owner));
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

AlertInFront::~AlertInFront()
{
    openAlerts().removeAll(alert_);
    openAlerts().removeAll(nullptr);
    for (auto it = alertOwners().begin(); it != alertOwners().end();)
        it = openAlerts().contains(it.key()) ? std::next(it) : alertOwners().erase(it);
    if (waitsForAnswer_ && --g_waitingAlerts == 0)
        showAsideWindows();
}

bool AlertInFront::eventFilter(QObject* watched, QEvent* event)
{
    // One filter answers for all: the one of the alert opened last.
    if ((event->type() != QEvent::Show && event->type() != QEvent::Hide) || openAlerts().isEmpty() ||
        openAlerts().constLast() != alert_)
        return false;
    if (AsideWindow* aside = asideWindowOf(watched)) {
        // Shown by its owner while an alert waits: out of sight again until the alerts are answered. Hidden by
        // its owner: it stays so.
        if (event->type() == QEvent::Show && g_waitingAlerts > 0)
            QMetaObject::invokeMethod(this, [] { hideAsideWindows(); }, Qt::QueuedConnection);
        else if (!g_hidingAside)
            aside->hidden = false;
        return false;
    }
    if (event->type() != QEvent::Show)
        return false;
    auto* window = qobject_cast<QWidget*>(watched);
    if (!window || !window->isWindow() || openAlerts().contains(window) ||
        (window->windowType() != Qt::Window && window->windowType() != Qt::Tool && window->windowType() != Qt::Dialog))
        return false;
    // The window maps only after its show event: the alerts go over it once it has.
    QMetaObject::invokeMethod(
        this, [window = QPointer<QWidget>(window)] { bringOpenAlertsOver(window, 150); }, Qt::QueuedConnection);
    return false;
}

} // namespace platform
