#pragma once
// TEVServiceInvocation: one method call by selector name, with zero to two object arguments, the class its
// result must have (none for a call whose result is ignored) and a one-way flag. Built on one thread,
// handed over once (threaded server slot or keyed archive) and then used only by the receiving thread.

#include "platform/foundation/Archivable.h"

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

class TEVInvocationTarget;

namespace platform {
class Coder;
}

class TEVServiceInvocation final : public platform::Archivable {
public:
    TEVServiceInvocation() = default;

    // `returnValueClass` empty = none. Nil arguments are not added.
    static std::shared_ptr<TEVServiceInvocation> invocation(const QString& selector, const QString& returnValueClass);
    static std::shared_ptr<TEVServiceInvocation> invocation(const QString& selector, const QString& returnValueClass,
                                                            const QVariant& object);
    static std::shared_ptr<TEVServiceInvocation> invocation(const QString& selector, const QString& returnValueClass,
                                                            const QVariant& object1, const QVariant& object2);
    static std::shared_ptr<TEVServiceInvocation> voidOneWayInvocation(const QString& selector);
    // Null when the archive is no keyed one or holds values of the wrong kinds.
    static std::shared_ptr<TEVServiceInvocation> createWithCoder(platform::Coder& coder);

    const QString& selector() const { return selector_; }
    void setSelector(const QString& selector) { selector_ = selector; }
    const QVariantList& arguments() const { return arguments_; }
    const QString& returnValueClass() const { return returnValueClass_; }
    void setReturnValueClass(const QString& className) { returnValueClass_ = className; }
    bool isOneWay() const { return isOneWay_; }
    void setIsOneWay(bool oneWay) { isOneWay_ = oneWay; }

    // A third argument is dropped and logged.
    void addArgument(const QVariant& object);

    bool validate() const;
    // The target's result when there is a return class, else invalid (nil).
    QVariant invokeWithTarget(TEVInvocationTarget* target) const;
    QString description() const;

    QString className() const override { return QStringLiteral("TEVServiceInvocation"); }
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    bool isOneWay_ = false;
    QString selector_; // null = no selector
    QVariantList arguments_;
    QString returnValueClass_;
};
