#include "sensors/SensorArchiving.h"

#include "platform/foundation/Coder.h"
#include "platform/foundation/Values.h"

QString decodeArchivedStrings(platform::Coder& coder, std::initializer_list<QString*> fields)
{
    for (QString* field : fields) {
        const QVariant object = coder.decodeObject();
        if (coder.hasFailed())
            return QStringLiteral("truncated archive");
        if (!object.isValid())
            continue;
        const auto text = platform::values::toString(object);
        if (!text)
            return QStringLiteral("identity field is a %1, not a string")
                .arg(QString::fromLatin1(platform::values::kindName(platform::values::kindOf(object))));
        *field = *text;
    }
    return {};
}
