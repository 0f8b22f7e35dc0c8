#include "platform/desktop/widgets/ApplicationMenuBar.h"

#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>

namespace platform {

namespace {
ApplicationMenuBar::Maker& maker()
{
    static ApplicationMenuBar::Maker instance;
    return instance;
}
} // namespace

void ApplicationMenuBar::setMaker(Maker m)
{
    maker() = std::move(m);
}

void ApplicationMenuBar::installInto(QWidget* window)
{
    if (!window || !maker())
        return;
    auto* main = qobject_cast<QMainWindow*>(window);
    if (!main && !window->layout())
        return;
    QMenuBar* bar = maker()(window);
    if (!bar)
        return;
    if (main)
        main->setMenuBar(bar);
    else
        window->layout()->setMenuBar(bar);
}

} // namespace platform
