#include "windows/sensortables/TEVFilenameTextField.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

TEVFilenameTextField::TEVFilenameTextField(QWidget* parent)
    : QLineEdit(parent)
{
    setAcceptDrops(true);
}

QStringList TEVFilenameTextField::fileNamesOnPasteboard(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.append(url.toLocalFile());
    return paths;
}

void TEVFilenameTextField::dragEnterEvent(QDragEnterEvent* event)
{
    // An edit in progress would otherwise be stored over the dropped path when it ends.
    if (QWidget* focused = window() ? window()->focusWidget() : nullptr)
        focused->clearFocus();
    dragMoveEvent(event);
}

void TEVFilenameTextField::dragMoveEvent(QDragMoveEvent* event)
{
    if (fileNamesOnPasteboard(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TEVFilenameTextField::dropEvent(QDropEvent* event)
{
    const QStringList paths = fileNamesOnPasteboard(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    setText(paths.first());
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit actionTriggered();
}
