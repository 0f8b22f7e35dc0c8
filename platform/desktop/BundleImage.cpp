#include "platform/desktop/BundleImage.h"

#include "platform/foundation/Bundle.h"

#include <QFileInfo>
#include <QImageReader>

namespace platform {

QImage bundleImage(const Bundle* bundle, const QString& name)
{
    const auto path = bundle ? bundle->pathForImageResource(name) : std::nullopt;
    if (!path)
        return {};
    QImageReader reader(*path, QFileInfo(*path).suffix().toLower().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

} // namespace platform
