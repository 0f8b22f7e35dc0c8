#pragma once
// Where an I/O Registry entry's properties come from: a fixed dictionary (fixtures) or a reader that goes to
// the host on every call (Linux providers), so readers always see current values. Shared by the entries
// that use it; implementations must be safe to read from any thread.

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <utility>

namespace platform {

class IORegistryPropertySource {
public:
    virtual ~IORegistryPropertySource() = default;
    virtual QVariantMap properties() const = 0;
    // An invalid QVariant when the entry has no such property.
    virtual QVariant property(const QString& key) const { return properties().value(key); }
};

class StaticIORegistryPropertySource final : public IORegistryPropertySource {
public:
    explicit StaticIORegistryPropertySource(QVariantMap properties) : properties_(std::move(properties)) {}
    QVariantMap properties() const override { return properties_; }

private:
    QVariantMap properties_;
};

} // namespace platform
