#pragma once
// The open panel of programs with widgets: our own QFileDialog (the message needs a place in its layout).
// Installed by the program at start-up with OpenPanel::setShared; main thread only.

#include "platform/desktop/OpenPanel.h"

namespace platform {

class QtOpenPanel final : public OpenPanel {
public:
    std::optional<QString> runModal(const OpenPanelOptions& options) override;
};

} // namespace platform
