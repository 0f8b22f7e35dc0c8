#include "acquisition/TEVInvocationTarget.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/Values.h"

namespace values = platform::values;

bool TEVInvocationTarget::respondsToSelector(const QString& selector) const
{
    return handlers_.contains(selector);
}

QVariant TEVInvocationTarget::performSelector(const QString& selector, const QVariantList& arguments)
{
    const auto it = handlers_.constFind(selector);
    if (it == handlers_.constEnd() || arguments.size() != colonCount(selector))
        return {};
    return it.value()(arguments);
}

void TEVInvocationTarget::add(const QString& selector, int arity, Handler handler)
{
    KV_ASSERT_OR_RETURN(colonCount(selector) == arity, , "selector arity differs from its handler's");
    handlers_.insert(selector, std::move(handler));
}

void TEVInvocationTarget::addHandler(const QString& selector, Handler0 handler)
{
    add(selector, 0, [h = std::move(handler)](const QVariantList&) { return h(); });
}

void TEVInvocationTarget::addHandler(const QString& selector, Handler1 handler)
{
    add(selector, 1, [h = std::move(handler)](const QVariantList& a) { return h(a.at(0)); });
}

void TEVInvocationTarget::addHandler(const QString& selector, Handler2 handler)
{
    add(selector, 2, [h = std::move(handler)](const QVariantList& a) { return h(a.at(0), a.at(1)); });
}

QString TEVInvocationTarget::classNameOfValue(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Invalid:
        return {};
    case values::Kind::Bool:
    case values::Kind::Signed:
    case values::Kind::Unsigned:
    case values::Kind::Real:
        return QStringLiteral("NSNumber");
    case values::Kind::String:
        return QStringLiteral("NSString");
    case values::Kind::Data:
        return QStringLiteral("NSData");
    case values::Kind::Date:
        return QStringLiteral("NSDate");
    case values::Kind::Array:
        return QStringLiteral("NSArray");
    case values::Kind::Dictionary:
        return QStringLiteral("NSDictionary");
    case values::Kind::Object:
        if (const auto object = values::toObject(value))
            return object->className();
        return {};
    }
    return {};
}

QString TEVInvocationTarget::describeValue(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Invalid:
        return QStringLiteral("(null)");
    case values::Kind::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case values::Kind::Signed:
    case values::Kind::Unsigned:
    case values::Kind::Real:
    case values::Kind::String:
        return value.toString();
    case values::Kind::Data:
        return QStringLiteral("{length = %1}").arg(value.toByteArray().size());
    case values::Kind::Date:
        return value.toDateTime().toString(Qt::ISODate);
    case values::Kind::Array:
        return QStringLiteral("(%1 objects)").arg(value.toList().size());
    case values::Kind::Dictionary:
        return QStringLiteral("{%1 entries}").arg(value.toMap().size());
    case values::Kind::Object:
        return QStringLiteral("<%1>").arg(classNameOfValue(value));
    }
    return {};
}
