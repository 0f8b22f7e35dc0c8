#pragma once
// TEVInvocationTarget: an object that answers invocations by selector name through its own table of
// handlers (zero to two object arguments, one object result). The table is filled by the constructor of
// the concrete class and only read afterwards, so lookups are safe from any thread.

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <functional>

class TEVInvocationTarget {
public:
    using Handler0 = std::function<QVariant()>;
    using Handler1 = std::function<QVariant(const QVariant&)>;
    using Handler2 = std::function<QVariant(const QVariant&, const QVariant&)>;

    virtual ~TEVInvocationTarget() = default;
    virtual QString className() const = 0;

    bool respondsToSelector(const QString& selector) const;
    // Invalid when the selector is unknown or `arguments` does not match its colon count.
    QVariant performSelector(const QString& selector, const QVariantList& arguments);

    // The class an archive would name for `value`: "NSNumber", "NSString", ... or an object's own class;
    // empty for nil.
    static QString classNameOfValue(const QVariant& value);
    // Short text for logs: strings and numbers as they are, containers by their counts, objects by class.
    static QString describeValue(const QVariant& value);
    static int colonCount(const QString& selector) { return int(selector.count(QLatin1Char(':'))); }

protected:
    // Each selector's colon count must match its handler's arity.
    void addHandler(const QString& selector, Handler0 handler);
    void addHandler(const QString& selector, Handler1 handler);
    void addHandler(const QString& selector, Handler2 handler);

private:
    using Handler = std::function<QVariant(const QVariantList&)>;
    void add(const QString& selector, int arity, Handler handler);
    QHash<QString, Handler> handlers_;
};
