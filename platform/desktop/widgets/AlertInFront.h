#pragma once
// Keeps the open alerts in front of the program's windows: a window that opens while an alert waits for its
// answer (a start-up alert while the program connects and opens its windows) would otherwise cover it, and
// not every desktop keeps a dialog without a parent window above the rest. Main thread.

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace platform {

// Keeps `window`, a display meant to lie below every other window, out of sight while an alert waits, where
// the platform cannot keep it below (platformStacksWindows): a compositor that raises it at a press where it
// lies (sway) would put it over the question. Shown again once the last alert is answered. `stepsAside` false
// lets it stay.
void stepAsideForAlerts(QWidget* window, bool stepsAside);

class AlertInFront final : public QObject {
public:
    // For as long as the object lives, `alert` comes back in front after any other window shows. Where it is
    // shown anew for that, it is given to the window `owner` names then (the window it concerns, else the
    // main window), never to the window that just showed. A panel that stays open beside the work
    // (`waitsForAnswer` false) lets the displays that step aside for alerts stay.
    explicit AlertInFront(QWidget* alert, std::function<QWidget*()> owner = {}, bool waitsForAnswer = true);
    ~AlertInFront() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> alert_;
    bool waitsForAnswer_;
};

} // namespace platform
