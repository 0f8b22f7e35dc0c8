#include "platform/desktop/widgets/AlertInFront.h"

#include <QApplication>
#include <QEvent>
#include <QList>
#include <QWidget>

namespace platform {
namespace {

// The open alerts, the one opened first first: an alert opened over another stays over it.
QList<QPointer<QWidget>>& openAlerts()
{
    static QList<QPointer<QWidget>> alerts;
    return alerts;
}

void raiseOpenAlerts()
{
    for (const QPointer<QWidget>& alert : std::as_const(openAlerts()))
        if (alert && alert->isVisible())
            alert->raise();
}

} // namespace

AlertInFront::AlertInFront(QWidget* alert)
    : alert_(alert)
{
    openAlerts().append(alert_);
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
}

AlertInFront::~AlertInFront()
{
    openAlerts().removeAll(alert_);
    openAlerts().removeAll(nullptr);
}

bool AlertInFront::eventFilter(QObject* watched, QEvent* event)
{
    // One filter answers for all: the one of the alert opened last.
    if (event->type() != QEvent::Show || openAlerts().isEmpty() || openAlerts().constLast() != alert_)
        return false;
    auto* window = qobject_cast<QWidget*>(watched);
    if (!window || !window->isWindow() || openAlerts().contains(window) ||
        (window->windowType() != Qt::Window && window->windowType() != Qt::Tool && window->windowType() != Qt::Dialog))
        return false;
    // The window maps only after its show event: the alerts go over it once it has.
    QMetaObject::invokeMethod(this, &raiseOpenAlerts, Qt::QueuedConnection);
    return false;
}

} // namespace platform
