#pragma once
// QtWaitSheet: a window-modal busy indicator over a window while work that blocks the main thread runs
// (the preference write when the preference window closes). Main thread only.

#include <functional>

class QWidget;

class QtWaitSheet {
public:
    // Shows the indicator on `parent` (a free-standing one without), lets it paint, runs `work` and closes
    // it. The turn it paints in counts as modal: timers that wait for modal alerts wait for it too, so no
    // update runs in the middle of the write.
    static void run(QWidget* parent, const std::function<void()>& work);
};
