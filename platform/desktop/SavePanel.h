#pragma once
// SavePanel: lets the user choose where a new file goes in a modal panel. One process-wide panel (the Qt
// one unless a test installs a scripted one); main thread only.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace platform {

struct SavePanelOptions {
    QString title;
    QString prompt;        // the confirming button
    QString directory;     // where the panel opens
    QString nameFieldValue; // the proposed file name
    QStringList allowedFileTypes; // extensions without the dot; the first is added to a name without one
};

class SavePanel {
public:
    virtual ~SavePanel() = default;
    // The chosen path, nothing when cancelled.
    virtual std::optional<QString> runModal(const SavePanelOptions& options) = 0;

    static std::shared_ptr<SavePanel> shared();
    // Null returns to the headless panel.
    static void setShared(std::shared_ptr<SavePanel> panel);
};

// Used until a program with widgets installs its own: nobody can choose, so every panel is cancelled.
class HeadlessSavePanel final : public SavePanel {
public:
    std::optional<QString> runModal(const SavePanelOptions& options) override;
};

} // namespace platform
