#include "platform/desktop/widgets/QtOpenPanel.h"

#include "platform/foundation/Log.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>

namespace platform {

std::optional<QString> QtOpenPanel::runModal(const OpenPanelOptions& options)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        log("QtOpenPanel", QStringLiteral("no widget application; \"%1\" counts as cancelled").arg(options.title));
        return std::nullopt;
    }
    QFileDialog dialog;
    // Our own dialog: the message needs a place in its layout.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setWindowTitle(options.title);
    dialog.setLabelText(QFileDialog::Accept, options.prompt);
    dialog.setFileMode(options.canChooseDirectories && !options.canChooseFiles ? QFileDialog::Directory
                                                                               : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ShowDirsOnly, !options.canChooseFiles);
    QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot;
    if (options.showsHiddenFiles)
        filters |= QDir::Hidden;
    dialog.setFilter(filters);
    if (!options.allowedFileTypes.isEmpty()) {
        QStringList patterns;
        for (const QString& type : options.allowedFileTypes)
            patterns.append(QStringLiteral("*.") + type);
        dialog.setNameFilter(patterns.join(QLatin1Char(' ')));
    }
    const QFileInfo start(options.directory);
    if (start.isDir()) {
        dialog.setDirectory(start.absoluteFilePath());
    } else {
        dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }
    if (!options.message.isEmpty()) {
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
            auto* label = new QLabel(options.message, &dialog);
            label->setWordWrap(true);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace platform
