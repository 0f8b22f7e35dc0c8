#include "platform/foundation/NullObject.h"

namespace platform {

ObjectRef NullObject::shared()
{
    static const ObjectRef instance(new NullObject);
    return instance;
}

QString NullObject::className() const
{
    return QStringLiteral("NSNull");
}

void NullObject::encodeWithCoder(Coder&) const
{
    // An NSNull archive holds nothing but its class.
}

} // namespace platform
