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
    // What the source reads ("power_supply/BAT0"): a rebuilt registry keeps an entry whose source reads the
    // same thing as before. Null when the source cannot tell.
    virtual QString identity() const { return {}; }
};

class StaticIORegistryPropertySource final : public IORegistryPropertySource {
public:
    explicit StaticIORegistryPropertySource(QVariantMap properties) : properties_(std::move(properties)) {}
    QVariantMap properties() const override { return properties_; }

private:
    QVariantMap properties_;
};

} // namespace platform
