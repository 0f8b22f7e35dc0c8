#include "framework/widgets/TEVFilePathWell.h"

#include "platform/desktop/Workspace.h"

#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

TEVFilePathWell::TEVFilePathWell(QWidget* parent)
    : QLabel(parent)
{
    setAlignment(Qt::AlignCenter);
}

void TEVFilePathWell::setFilePath(const QString& path)
{
    filePath_ = path;
    const QIcon icon = platform::Workspace::shared()->iconForFile(path);
    setPixmap(icon.isNull() ? QPixmap() : icon.pixmap(size()));
}

void TEVFilePathWell::mousePressEvent(QMouseEvent* event)
{
    if (filePath_.isEmpty() || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(filePath_)});
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QPixmap image = pixmap();
    if (!image.isNull()) {
        drag->setPixmap(image);
        drag->setHotSpot(event->position().toPoint());
    }
    drag->exec(Qt::CopyAction);
}
