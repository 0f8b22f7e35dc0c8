#pragma once
// OpenPanel: lets the user pick one file or folder in a modal panel. One process-wide panel (the Qt one
// unless a test installs a scripted one); main thread only.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace platform {

struct OpenPanelOptions {
    QString title;
    QString prompt;  // the confirming button
    QString message; // shown beside the file list
    QString directory; // where the panel opens; a file selects that file in its folder
    bool showsHiddenFiles = false;
    bool canChooseFiles = true;
    bool canChooseDirectories = false;
    QStringList allowedFileTypes; // extensions without the dot; empty allows every file
};

class OpenPanel {
public:
    virtual ~OpenPanel() = default;
    // The chosen path, nothing when cancelled.
    virtual std::optional<QString> runModal(const OpenPanelOptions& options) = 0;

    static std::shared_ptr<OpenPanel> shared();
    // Null returns to the headless panel.
    static void setShared(std::shared_ptr<OpenPanel> panel);
};

// Used until a program with widgets installs its own: nobody can choose, so every panel is cancelled.
class HeadlessOpenPanel final : public OpenPanel {
public:
    std::optional<QString> runModal(const OpenPanelOptions& options) override;
};

} // namespace platform
