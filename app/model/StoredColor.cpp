#include "app/model/StoredColor.h"

#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"

namespace storedcolor {

std::shared_ptr<platform::Color> fromArchivedData(const QByteArray& data)
{
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("NSColor")};
    return platform::objectAs<platform::Color>(
        platform::values::toObject(platform::SequentialUnarchiver::unarchiveObjectWithData(data, options)));
}

void insert(QVariantMap& dictionary, const QString& key, const std::shared_ptr<platform::Color>& color)
{
    if (!color)
        return;
    const QByteArray data = platform::SequentialArchiver::archivedDataWithRootObject(platform::values::fromObject(color));
    if (!data.isNull())
        dictionary.insert(key, platform::values::fromData(data));
}

std::shared_ptr<platform::Color> windowBackground()
{
    return platform::Color::white(platform::Color::Space::CalibratedWhite, 239.0f / 255.0f);
}

std::shared_ptr<platform::Color> black()
{
    return platform::Color::white(platform::Color::Space::CalibratedWhite, 0.0f);
}

} // namespace storedcolor
