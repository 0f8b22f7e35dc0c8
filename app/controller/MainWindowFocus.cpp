#include "app/controller/MainWindowFocus.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace {

class FocusAfterMaps final : public QObject {
public:
    FocusAfterMaps(QWidget* main, const QList<QWindow*>& pending)
        : QObject(main)
        , main_(main)
    {
        for (QWindow* window : pending) {
            pending_.append(window);
            window->installEventFilter(this);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Expose follows the map, after which Qt has made its own late activation of that window.
        if (event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isExposed()) {
                window->removeEventFilter(this);
                pending_.removeAll(window);
                pending_.removeAll(nullptr);
                if (pending_.isEmpty()) {
                    if (main_ && main_->isVisible())
                        main_->activateWindow();
                    deleteLater();
                }
            }
        }
        return false;
    }

private:
    QPointer<QWidget> main_;
    QList<QPointer<QWindow>> pending_;
};

} // namespace

namespace MainWindowFocus {

void activateOnceMapped(QWidget* main)
{
    if (!main || !main->isVisible() || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QList<QWindow*> pending;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        QWindow* window = widget != main && widget->isVisible() ? widget->windowHandle() : nullptr;
        if (window && !widget->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus) && !window->isExposed())
            pending.append(window);
    }
    if (QWindow* own = main->windowHandle(); own && !own->isExposed())
        pending.append(own);
    if (pending.isEmpty())
        main->activateWindow();
    else
        new FocusAfterMaps(main, pending);
}

} // namespace MainWindowFocus
