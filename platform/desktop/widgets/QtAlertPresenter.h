#pragma once
// The alert presenter of programs with widgets: a QMessageBox. Installed by the program at start-up with
// AlertPresenter::setShared; main thread only.

#include "platform/desktop/AlertPresenter.h"

namespace platform {

class QtAlertPresenter final : public AlertPresenter {
public:
    int runModal(const Alert& alert) override;
    void beep() override;
};

} // namespace platform
