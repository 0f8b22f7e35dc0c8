#pragma once
// The modal panel of "Reset All Sensors...": which of every gauge's settings go back to their defaults.
// Main thread.

#include "app/model/ApplicationWindows.h"

#include <optional>

class QDialog;

class QtGaugeResetPanel {
public:
    // Nothing when cancelled.
    static std::optional<GaugeResetChoice> run();
    // The panel as `run` shows it, for tests and screenshots; `choose` is told the answer when it closes.
    static QDialog* make(std::function<void(std::optional<GaugeResetChoice>)> choose);
};
