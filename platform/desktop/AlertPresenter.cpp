#include "platform/desktop/AlertPresenter.h"

#include "platform/foundation/Log.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<AlertPresenter> g_presenter;

QMessageBox::Icon iconFor(Alert::Style style)
{
    switch (style) {
    case Alert::Style::Informational:
        return QMessageBox::Information;
    case Alert::Style::Critical:
        return QMessageBox::Critical;
    case Alert::Style::Warning:
        break;
    }
    return QMessageBox::Warning;
}

} // namespace

Alert Alert::forError(const Error& error)
{
    Alert alert;
    alert.messageText = error.localizedDescription().isEmpty()
                            ? QStringLiteral("The operation could not be completed. (%1 error %2.)").arg(error.domain).arg(error.code)
                            : error.localizedDescription();
    alert.buttons = {QStringLiteral("OK")};
    return alert;
}

std::shared_ptr<AlertPresenter> AlertPresenter::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_presenter)
        g_presenter = std::make_shared<QtAlertPresenter>();
    return g_presenter;
}

void AlertPresenter::setShared(std::shared_ptr<AlertPresenter> presenter)
{
    std::lock_guard lock(g_mutex);
    g_presenter = std::move(presenter);
}

int QtAlertPresenter::runModal(const Alert& alert)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // Without widgets there is nobody to ask: the default button is the answer.
        log("QtAlertPresenter", QStringLiteral("no widget application; \"%1\" answered with its default button").arg(alert.messageText));
        return 0;
    }
    QMessageBox box(iconFor(alert.style), QString(), alert.messageText);
    box.setInformativeText(alert.informativeText);
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < titles.size(); ++i) {
        // The first button is the default; the rest keep their order to the left of it.
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole;
        buttons.append(box.addButton(titles.at(i), role));
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    box.exec();
    const int chosen = static_cast<int>(buttons.indexOf(box.clickedButton()));
    return chosen < 0 ? 0 : chosen;
}

void QtAlertPresenter::beep()
{
    QApplication::beep();
}

} // namespace platform
