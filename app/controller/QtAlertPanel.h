#pragma once
// QtAlertPanel: the non-modal panel that shows a sensor alert's message (or another notice) and stays up until
// closed; a newer one replaces the text. Made by the program for the controller; owns its dialog. Main thread only.

#include "app/model/ApplicationWindows.h"

#include <memory>

class QDialog;
class QLabel;

class QtAlertPanel final : public AlertPanel {
public:
    QtAlertPanel();
    ~QtAlertPanel() override;

    void showMessage(const QString& message) override;
    void showNotice(const QString& title, const QString& message) override;

    // Asking builds the panel (hidden) when no message made it yet.
    QDialog* panel();
    QLabel* alertPanelMessage();

private:
    void ensurePanel();

    std::unique_ptr<QDialog> panel_;
    QLabel* message_ = nullptr; // child of the panel
};
