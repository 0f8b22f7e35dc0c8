#pragma once
// The alert presenter of programs with widgets: a QMessageBox. Installed by the program at start-up with
// AlertPresenter::setShared; main thread only.

#include "platform/desktop/AlertPresenter.h"

#include <QPoint>

namespace platform {

class QtAlertPresenter final : public AlertPresenter {
public:
    int runModal(const Alert& alert) override;
    void beep() override;

    // Where an alert opened over another one goes: moved down and right of it, so that the two never read
    // as one box.
    static constexpr QPoint stackOffset{32, 32};
};

} // namespace platform
