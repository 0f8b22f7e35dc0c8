#include "platform/desktop/widgets/QtSavePanel.h"

#include "platform/foundation/Log.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace platform {

namespace {

// Where a panel without a folder of its own opens: where the last one was confirmed, at first the home
// folder. Never the program's working folder, which the user did not choose and may not even know.
QString& lastDirectory()
{
    static QString directory;
    return directory;
}

} // namespace

std::optional<SavePanelResult> QtSavePanel::runModal(const SavePanelOptions& options)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        log("QtSavePanel", QStringLiteral("no widget application; \"%1\" counts as cancelled").arg(options.title));
        return std::nullopt;
    }
    QFileDialog dialog(options.window);
    // Our own dialog, so that a type chosen in the filter list changes the extension the same way everywhere.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (options.window)
        dialog.setWindowModality(Qt::WindowModal);
    if (!options.title.isEmpty())
        dialog.setWindowTitle(options.title);
    if (!options.prompt.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, options.prompt);
    if (!options.directory.isEmpty())
        dialog.setDirectory(options.directory);
    else
        dialog.setDirectory(QFileInfo(lastDirectory()).isDir() ? lastDirectory() : QDir::homePath());

    QStringList filters;
    for (const auto& type : options.fileTypes)
        filters.append(QStringLiteral("%1 (*.%2)").arg(type.name, type.extension));
    const auto suffixFor = [&options, filters](const QString& filter) {
        const qsizetype index = filters.indexOf(filter);
        return index < 0 ? QString() : options.fileTypes.at(index).extension;
    };
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        const qsizetype selected = qBound<qsizetype>(0, options.selectedFileType, filters.size() - 1);
        dialog.selectNameFilter(filters.at(selected));
        dialog.setDefaultSuffix(options.fileTypes.at(selected).extension);
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog, suffixFor](const QString& filter) { dialog.setDefaultSuffix(suffixFor(filter)); });
    }
    if (!options.suggestedName.isEmpty())
        dialog.selectFile(options.suggestedName);

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    SavePanelResult result;
    result.path = dialog.selectedFiles().first();
    lastDirectory() = QFileInfo(result.path).absolutePath();
    result.fileType = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
    return result;
}

} // namespace platform
