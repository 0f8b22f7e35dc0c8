#pragma once
// QtWarningPanel: the small non-modal notice shown while the local computer's sampling is restarted after
// its thread stopped answering. Made by the program for the controller; owns its dialog. Main thread only.

#include "app/model/ApplicationWindows.h"


#include <memory>

class QDialog;
class QLabel;

class QtWarningPanel final : public WarningPanel {
public:
    QtWarningPanel();
    ~QtWarningPanel() override;

    // Centred on the screen and raised, without taking the user's input from other windows.
    void centerAndShow() override;
    void orderOut() override;

    // Asking builds the panel (hidden) when it was never shown.
    QDialog* panel();
    QLabel* messageField();
    QLabel* informativeField();

private:
    void ensurePanel();

    std::unique_ptr<QDialog> panel_;
    QLabel* messageField_ = nullptr; // child of the window
    QLabel* informativeField_ = nullptr; // child of the window
};
