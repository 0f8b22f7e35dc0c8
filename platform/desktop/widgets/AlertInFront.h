#pragma once
// Keeps the open alerts in front of the program's windows: a window that opens while an alert waits for its
// answer (a start-up alert while the program connects and opens its windows) would otherwise cover it, and
// not every desktop keeps a dialog without a parent window above the rest. Main thread.

#include <QObject>
#include <QPointer>

class QWidget;

namespace platform {

class AlertInFront final : public QObject {
public:
    // For as long as the object lives, `alert` comes back in front after any other window shows.
    explicit AlertInFront(QWidget* alert);
    ~AlertInFront() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> alert_;
};

} // namespace platform
