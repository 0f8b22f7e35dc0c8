#include "platform/desktop/widgets/QtSavePanel.h"

#include "platform/foundation/Log.h"

#include <QApplication>
#include <QFileDialog>

namespace platform {

std::optional<QString> QtSavePanel::runModal(const SavePanelOptions& options)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        log("QtSavePanel", QStringLiteral("no widget application; \"%1\" counts as cancelled").arg(options.title));
        return std::nullopt;
    }
    QFileDialog dialog;
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setWindowTitle(options.title);
    if (!options.prompt.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, options.prompt);
    if (!options.directory.isEmpty())
        dialog.setDirectory(options.directory);
    if (!options.allowedFileTypes.isEmpty()) {
        QStringList patterns;
        for (const QString& type : options.allowedFileTypes)
            patterns.append(QStringLiteral("*.") + type);
        dialog.setNameFilter(patterns.join(QLatin1Char(' ')));
        dialog.setDefaultSuffix(options.allowedFileTypes.first());
    }
    dialog.selectFile(options.nameFieldValue);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace platform
