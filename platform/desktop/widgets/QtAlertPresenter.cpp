#include "platform/desktop/widgets/QtAlertPresenter.h"

#include "platform/desktop/widgets/AlertInFront.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/desktop/widgets/WindowPosition.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <optional>
#include <utility>

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

// Alerts asked for while another waits for its answer, each shown once those before it are answered: shown at
// once they would lie on top of each other (many desktops put every alert at the same place), the later
// covering the question of the earlier.
struct WaitingAlert {
    QPointer<QMessageBox> box;
    std::function<void()> show;
};
QList<WaitingAlert>& waitingAlerts()
{
    static QList<WaitingAlert> waiting;
    return waiting;
}
bool g_alertShown = false;

void showNextWaitingAlert()
{
    g_alertShown = false;
    while (!waitingAlerts().isEmpty()) {
        const WaitingAlert next = waitingAlerts().takeFirst();
        if (next.box) {
            g_alertShown = true;
            next.show();
            return;
        }
    }
}

std::function<QWidget*()>& fallbackParentLookup()
{
    static std::function<QWidget*()> lookup;
    return lookup;
}

bool isProgramWindow(const QWidget* window)
{
    // Not a frameless display over the desktop (the screen display): nothing to hold an alert beside.
    if (!window || !window->isWindow() || !window->isVisible() || window->isMinimized() ||
        window->windowFlags().testFlag(Qt::FramelessWindowHint))
        return false;
    const Qt::WindowType type = window->windowType();
    return type == Qt::Window || type == Qt::Dialog || type == Qt::Tool;
}

bool isOpenAlert(const QWidget* window)
{
    return std::any_of(openBoxes().cbegin(), openBoxes().cend(), [window](const QPointer<QMessageBox>& box) { return box == window; });
}

// The window the user acts in, where it is one of the program's (not an alert: the next waits until it is
// answered).
QWidget* windowActedIn()
{
    openBoxes().removeAll(nullptr);
    QWidget* active = QApplication::activeWindow();
    return isProgramWindow(active) && !isOpenAlert(active) ? active : nullptr;
}

QWidget* fallbackParent()
{
    const auto& lookup = fallbackParentLookup();
    QWidget* window = lookup ? lookup() : nullptr;
    return isProgramWindow(window) ? window : nullptr;
}

// Whom an alert asked for now belongs to as it shows, also later: the window it was asked in, else the
// program's main window (where it shows by then).
std::function<QWidget*()> ownerOfAlert()
{
    return [askedIn = QPointer<QWidget>(windowActedIn())]() -> QWidget* {
        return isProgramWindow(askedIn) ? askedIn.data() : fallbackParent();
    };
}

// The window an alert concerns: the one the user acts in, else the program's main window, else any window it
// shows.
QWidget* alertParent()
{
    if (QWidget* active = windowActedIn())
        return active;
    if (QWidget* window = fallbackParent())
        return window;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (isProgramWindow(window) && window->windowType() != Qt::Tool && !isOpenAlert(window))
            return window;
    return nullptr;
}

// Windows shown just before an alert map a turn or more later. Asked before then, the alert would map first
// and lie under them where the desktop stacks by the order of mapping and no client can raise a window
// (Wayland); elsewhere it is raised over them once they map. The wait is bounded: a desktop that never maps
// a window must not keep the question away.
void waitUntilShownWindowsAreMapped()
{
    if (platformStacksWindows())
        return;
    // An open alert is not waited for: one opened over it belongs to it.
    const auto unmapped = [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (isProgramWindow(window) && !openBoxes().contains(window) && window->windowHandle() &&
                !window->windowHandle()->isExposed())
                return true;
        return false;
    };
    const QDeadlineTimer deadline(3000);
    while (unmapped() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

// Keeps a shown panel in front until it hides: hidden and shown again at once to come over a window, it stays.
class PanelInFront final : public QObject {
public:
    explicit PanelInFront(QWidget* panel)
        : QObject(panel)
        , panel_(panel)
        , inFront_(panel, ownerOfAlert(), false)
    {
        panel->setProperty(kKeptInFront, true);
        panel->installEventFilter(this);
    }

    static constexpr char kKeptInFront[] = "kelvaroKeptInFront";

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == panel_ && event->type() == QEvent::Hide)
            QMetaObject::invokeMethod(this, [this] {
                if (panel_ && !panel_->isVisible()) {
                    panel_->setProperty(kKeptInFront, false);
                    deleteLater();
                }
            }, Qt::QueuedConnection);
        return false;
    }

private:
    QPointer<QWidget> panel_;
    AlertInFront inFront_;
};

} // namespace

void QtAlertPresenter::showInFront(QWidget* panel)
{
    if (!panel)
        return;
    setTransientParentOf(panel);
    panel->show();
    panel->raise();
    if (!panel->property(PanelInFront::kKeptInFront).toBool())
        new PanelInFront(panel);
}

void QtAlertPresenter::setFallbackParent(std::function<QWidget*()> lookup)
{
    fallbackParentLookup() = std::move(lookup);
}

void QtAlertPresenter::setTransientParentOf(QWidget* panel)
{
    if (!panel || panel->isVisible())
        return;
    QWidget* owner = alertParent();
    if (owner == panel || (owner && owner->window() == panel))
        owner = nullptr;
    panel->winId(); // a window of its own to attach to
    if (QWindow* window = panel->windowHandle())
        window->setTransientParent(owner ? owner->window()->windowHandle() : nullptr);
}

int QtAlertPresenter::runModal(const Alert& alert)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // Without widgets there is nobody to ask: the default button is the answer.
        log("QtAlertPresenter", QStringLiteral("no widget application; \"%1\" answered with its default button").arg(alert.messageText));
        return 0;
    }
    waitUntilShownWindowsAreMapped();
    // On the heap: the window it is given to may go while the alert waits, and takes its children with it.
    const auto owner = ownerOfAlert();
    const QPointer<QMessageBox> box = new QMessageBox(iconFor(alert.style), QString(), alert.messageText,
                                                      QMessageBox::NoButton, alertParent());
    box->setInformativeText(alert.informativeText);
    if (alert.selectableText) {
        // QMessageBox offers this for its message only; the informative text is its other label.
        const Qt::TextInteractionFlags selectable = Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard;
        box->setTextInteractionFlags(selectable);
        for (QLabel* label : box->findChildren<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            label->setTextInteractionFlags(selectable);
    }
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    QList<QAbstractButton*> buttons;
    for (int i = 0; i < titles.size(); ++i) {
        // The first button is the default; the rest keep their order to the left of it.
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::ActionRole;
        buttons.append(box->addButton(titles.at(i), role));
    }
    box->setDefaultButton(qobject_cast<QPushButton*>(buttons.first()));
    openBoxes().removeAll(nullptr);
    openBoxes().append(box);
    const int escapeIndex = escapeButtonIndex(titles);
    QAbstractButton* escape = buttons.at(escapeIndex);
    box->setEscapeButton(escape);
    PanelKeys::installInto(box, [escape] { escape->click(); });
    // A loop of our own rather than exec(): where no client can raise a window, the alert is shown anew over
    // a window that maps after it, and exec() would take that hiding for the end of the alert.
    QAbstractButton* clicked = nullptr;
    {
        std::optional<AlertInFront> inFront;
        QEventLoop loop;
        bool shown = false;
        const auto show = [&] {
            shown = true;
            inFront.emplace(box, owner);
            box->setWindowModality(Qt::ApplicationModal);
            box->show();
        };
        const auto answered = [&] {
            loop.quit();
            // Its loop ends only after those of the alerts opened in it: the next is shown now.
            if (std::exchange(shown, false))
                showNextWaitingAlert();
        };
        QObject::connect(box, &QDialog::finished, &loop, [&] {
            clicked = box->clickedButton();
            answered();
        });
        QObject::connect(box, &QObject::destroyed, &loop, answered);
        if (g_alertShown) {
            waitingAlerts().append({box, show});
        } else {
            g_alertShown = true;
            show();
        }
        loop.exec(QEventLoop::DialogExec);
        waitingAlerts().removeIf([&](const WaitingAlert& waiting) { return waiting.box == box || !waiting.box; });
    }
    openBoxes().removeAll(box);
    openBoxes().removeAll(nullptr);
    // Gone with the window it was given to: nobody chose, which is the dismissal's answer, not the default's.
    if (!box)
        return escapeIndex;
    delete box.data();
    const int chosen = static_cast<int>(buttons.indexOf(clicked));
    return chosen < 0 ? 0 : chosen;
}

void QtAlertPresenter::beep()
{
    QApplication::beep();
}

} // namespace platform
