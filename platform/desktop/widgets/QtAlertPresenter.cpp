#include "platform/desktop/widgets/QtAlertPresenter.h"

#include "platform/desktop/widgets/AlertInFront.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace platform {
namespace {

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

// The button Escape answers: one that declines ("Cancel", "No"), else the default, as an alert closed without
// a choice is answered.
int escapeButtonIndex(const QStringList& titles)
{
    const auto bundle = Bundle::main();
    for (const QString& key : {QStringLiteral("Cancel"), QStringLiteral("No")}) {
        const QString title = bundle ? bundle->localizedString(key) : key;
        if (const qsizetype i = titles.indexOf(title); i >= 0)
            return int(i);
        if (const qsizetype i = titles.indexOf(key); i >= 0)
            return int(i);
    }
    return 0;
}

// The alerts open now, oldest first (an alert's nested loop may open another).
QList<QPointer<QMessageBox>>& openBoxes()
{
    static QList<QPointer<QMessageBox>> boxes;
    return boxes;
}

} // namespace

int QtAlertPresenter::runModal(const Alert& alert)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // Without widgets there is nobody to ask: the default button is the answer.
        log("QtAlertPresenter", QStringLiteral("no widget application; \"%1\" answered with its default button").arg(alert.messageText));
        return 0;
    }
    QMessageBox box(iconFor(alert.style), QString(), alert.messageText);
    box.setInformativeText(alert.informativeText);
    if (alert.selectableText) {
        // QMessageBox offers this for its message only; the informative text is its other label.
        const Qt::TextInteractionFlags selectable = Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
        box.setTextInteractionFlags(selectable);
        for (QLabel* label : box.findChildren<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextInteractionFlags(selectable);
    }
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < titles.size(); ++i) {
        // The first button is the default; the rest keep their order to the left of it.
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole;
        buttons.append(box.addButton(titles.at(i), role));
    }
    box.setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    openBoxes().removeAll(nullptr);
    if (!openBoxes().isEmpty()) {
        const QMessageBox* under = openBoxes().last();
        box.adjustSize();
        box.move(under->pos() + stackOffset);
    }
    openBoxes().append(&box);
    QAbstractButton* escape = buttons.at(escapeButtonIndex(titles));
    box.setEscapeButton(escape);
    PanelKeys::installInto(&box, [escape] { escape->click(); });
    const AlertInFront inFront(&box);
    box.exec();
    openBoxes().removeAll(&box);
    const int chosen = static_cast<int>(buttons.indexOf(box.clickedButton()));
    return chosen < 0 ? 0 : chosen;
}

void QtAlertPresenter::beep()
{
    QApplication::beep();
}

} // namespace platform
