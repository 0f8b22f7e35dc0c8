#pragma once
// SavePanel: lets the user choose where a new file goes, and in which of the offered file types, in a modal
// panel (a sheet on a window when one is given). One process-wide panel (the Qt one unless a test installs a
// scripted one); main thread only.

#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace platform {

struct SavePanelOptions {
    // One choice of the file-type pop-up; its index in `fileTypes` is its tag.
    struct FileType {
        QString name;      // "Text"
        QString extension; // "txt", without the dot; added to a chosen name that has none
    };

    QString title;
    QString prompt;        // the confirming button; empty keeps the panel's own
    QString suggestedName; // the file name proposed
    QString directory;     // where the panel opens; empty: where it was last
    QList<FileType> fileTypes;
    qsizetype selectedFileType = 0;
    QWidget* window = nullptr; // a sheet on this window; null: a panel of its own
};

struct SavePanelResult {
    QString path;
    qsizetype fileType = 0; // the tag the user left selected
};

class SavePanel {
public:
    virtual ~SavePanel() = default;
    // The chosen location, nothing when cancelled.
    virtual std::optional<SavePanelResult> runModal(const SavePanelOptions& options) = 0;

    static std::shared_ptr<SavePanel> shared();
    // Null returns to the headless panel.
    static void setShared(std::shared_ptr<SavePanel> panel);
};

// Used until a program with widgets installs its own: nobody can choose, so every panel is cancelled.
class HeadlessSavePanel final : public SavePanel {
public:
    std::optional<SavePanelResult> runModal(const SavePanelOptions& options) override;
};

} // namespace platform
