#pragma once
// The alert presenter of programs with widgets: a QMessageBox. An alert asked for while another waits is shown
// once that one is answered. Installed by the program at start-up with AlertPresenter::setShared; main thread
// only.

#include "platform/desktop/AlertPresenter.h"

#include <functional>

class QWidget;

namespace platform {

class QtAlertPresenter final : public AlertPresenter {
public:
    int runModal(const Alert& alert) override;
    void beep() override;

    // The window an alert is given to when the user acts in none of the program's windows (the sensor
    // window); each alert has one where the program shows a window, so that the desktop keeps it over it.
    static void setFallbackParent(std::function<QWidget*()> lookup);
    // Gives a non-modal alert panel of its own (no widget parent) the window an alert would have as its
    // transient parent, before it shows; keeps the one it has while it is shown.
    static void setTransientParentOf(QWidget* panel);
    // Shows a non-modal alert panel of its own, given to the window an alert would be, and keeps it in front of
    // the program's windows until it hides: one shown as the program starts would otherwise lie under the
    // windows that open after it, where no client can raise a window.
    static void showInFront(QWidget* panel);
};

} // namespace platform
