#include "acquisition/TEVServiceInvocation.h"

#include "acquisition/TEVInvocationTarget.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

namespace values = platform::values;

namespace {

constexpr auto kClassName = "TEVServiceInvocation";
const QString kSelectorKey = QStringLiteral("SelectorString");
const QString kArgumentsKey = QStringLiteral("Arguments");
const QString kReturnClassKey = QStringLiteral("ReturnValueClassString");
const QString kOneWayKey = QStringLiteral("IsOneWay");

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVServiceInvocation::createWithCoder(coder); });

void logError(const QString& message)
{
    platform::log(QStringLiteral("%1: %2").arg(QLatin1String(kClassName), message));
}

} // namespace

std::shared_ptr<TEVServiceInvocation> TEVServiceInvocation::invocation(const QString& selector,
                                                                       const QString& returnValueClass)
{
    auto result = std::make_shared<TEVServiceInvocation>();
    result->selector_ = selector;
    result->returnValueClass_ = returnValueClass;
    return result;
}

std::shared_ptr<TEVServiceInvocation> TEVServiceInvocation::invocation(const QString& selector,
                                                                       const QString& returnValueClass,
                                                                       const QVariant& object)
{
    auto result = invocation(selector, returnValueClass);
    result->addArgument(object);
    return result;
}

std::shared_ptr<TEVServiceInvocation> TEVServiceInvocation::invocation(const QString& selector,
                                                                       const QString& returnValueClass,
                                                                       const QVariant& object1,
                                                                       const QVariant& object2)
{
    auto result = invocation(selector, returnValueClass, object1);
    result->addArgument(object2);
    return result;
}

std::shared_ptr<TEVServiceInvocation> TEVServiceInvocation::voidOneWayInvocation(const QString& selector)
{
    auto result = invocation(selector, QString());
    result->isOneWay_ = true;
    return result;
}

void TEVServiceInvocation::addArgument(const QVariant& object)
{
    if (!object.isValid())
        return;
    if (arguments_.size() >= 2) {
        logError(QStringLiteral("more than two arguments are not permitted.\n"));
        return;
    }
    arguments_.append(object);
}

bool TEVServiceInvocation::validate() const
{
    if (selector_.isEmpty()) {
        logError(QStringLiteral("unknown selector.\n"));
        return false;
    }
    const int expected = TEVInvocationTarget::colonCount(selector_);
    if (expected != arguments_.size()) {
        logError(QStringLiteral("%1 arguments provided, but %2 expected.\n").arg(arguments_.size()).arg(expected));
        return false;
    }
    if (isOneWay_ && !returnValueClass_.isEmpty()) {
        logError(QStringLiteral("oneway invocation must not specify return value class.\n"));
        return false;
    }
    return true;
}

QVariant TEVServiceInvocation::invokeWithTarget(TEVInvocationTarget* target) const
{
    if (!target || !validate())
        return {};
    // A decoded invocation keeps its argument list as it came, so a three-colon selector can get here.
    if (arguments_.size() > 2) {
        logError(QStringLiteral("cannot invoke methods with %1 arguments.\n").arg(arguments_.size()));
        return {};
    }
    if (!target->respondsToSelector(selector_)) {
        logError(QStringLiteral("-[%1 %2] is not implemented!\n").arg(target->className(), selector_));
        return {};
    }
    QVariant result = target->performSelector(selector_, arguments_);
    if (returnValueClass_.isEmpty())
        return {};
    if (result.isValid()) {
        const QString actual = TEVInvocationTarget::classNameOfValue(result);
        if (!platform::ClassRegistry::shared().isKindOf(actual, returnValueClass_))
            logError(QStringLiteral("expected return value of -%1 to be %2, but received %3!\n")
                         .arg(selector_, returnValueClass_, actual));
    }
    return result;
}

QString TEVServiceInvocation::description() const
{
    // validate() would log; the description only looks.
    const bool valid = !selector_.isEmpty() && TEVInvocationTarget::colonCount(selector_) == arguments_.size()
        && !(isOneWay_ && !returnValueClass_.isEmpty());
    if (!valid)
        return QStringLiteral("<invalid invocation with selector '%1'>").arg(selector_);
    QString text = QStringLiteral("- (") + (isOneWay_ ? QStringLiteral("oneway ") : QString())
        + (returnValueClass_.isEmpty() ? QStringLiteral("void") : returnValueClass_) + QStringLiteral(" *) ");
    if (arguments_.isEmpty()) {
        text += selector_ + QLatin1Char('\n');
        return text;
    }
    const QStringList parts = selector_.split(QLatin1Char(':'));
    for (qsizetype i = 0; i < arguments_.size(); ++i)
        text += QStringLiteral("%1:(%2 *) arg%3 ")
                    .arg(parts.value(i), TEVInvocationTarget::classNameOfValue(arguments_[i]))
                    .arg(i);
    text += QLatin1Char('\n');
    for (qsizetype i = 0; i < arguments_.size(); ++i)
        text += QStringLiteral("\targ%1: %2\n").arg(i).arg(TEVInvocationTarget::describeValue(arguments_[i]));
    return text;
}

void TEVServiceInvocation::encodeWithCoder(platform::Coder& coder) const
{
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("%1 needs a keyed coder").arg(QLatin1String(kClassName)));
        return;
    }
    coder.encodeObject(values::fromString(selector_), kSelectorKey);
    coder.encodeObject(values::fromArray(arguments_), kArgumentsKey);
    if (!returnValueClass_.isEmpty())
        coder.encodeObject(values::fromString(returnValueClass_), kReturnClassKey);
    coder.encodeBool(isOneWay_, kOneWayKey);
}

std::shared_ptr<TEVServiceInvocation> TEVServiceInvocation::createWithCoder(platform::Coder& coder)
{
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("%1 needs a keyed archive").arg(QLatin1String(kClassName)));
        return nullptr;
    }
    auto result = std::make_shared<TEVServiceInvocation>();
    const QVariant selector = coder.decodeObjectForKey(kSelectorKey);
    const QVariant arguments = coder.decodeObjectForKey(kArgumentsKey);
    const QVariant returnClass = coder.decodeObjectForKey(kReturnClassKey);
    result->isOneWay_ = coder.decodeBoolForKey(kOneWayKey);
    if (coder.hasFailed())
        return nullptr;
    // An absent selector or argument list leaves the invocation for validate() to reject; a value of the
    // wrong kind is a malformed archive.
    if ((selector.isValid() && !values::toString(selector)) || (arguments.isValid() && !values::toArray(arguments))
        || (returnClass.isValid() && !values::toString(returnClass))) {
        coder.failWithReason(QStringLiteral("%1 holds a value of the wrong kind").arg(QLatin1String(kClassName)));
        return nullptr;
    }
    result->selector_ = selector.toString();
    result->arguments_ = arguments.toList();
    const QString className = returnClass.toString();
    if (platform::ClassRegistry::shared().contains(className))
        result->returnValueClass_ = className;
    return result;
}
