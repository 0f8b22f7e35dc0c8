#pragma once
// The save panel of programs with widgets: a QFileDialog in save mode. Installed by the program at
// start-up with SavePanel::setShared; main thread only.

#include "platform/desktop/SavePanel.h"

namespace platform {

class QtSavePanel final : public SavePanel {
public:
    std::optional<QString> runModal(const SavePanelOptions& options) override;
};

} // namespace platform
