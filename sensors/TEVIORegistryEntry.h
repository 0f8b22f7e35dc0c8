#pragma once
// A handle on one I/O Registry entry with typed property readers that fall back to fixed absent results.
// Shares ownership of its entry (and so of its registry); every read goes to the entry anew. Made and read on
// one thread at a time.

#include "platform/registry/IORegistry.h"

#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <vector>

class TEVIORegistryEntry {
public:
    using Handle = std::shared_ptr<const platform::IORegistryEntry>;
    using EntryList = std::vector<std::shared_ptr<TEVIORegistryEntry>>;
    using Registry = std::shared_ptr<const platform::IORegistry>;

    // The class lookups read `registry`, or platform::IORegistry::current() when it is null.
    // Nothing for an empty name; an empty list when no service matches.
    static std::optional<EntryList> serviceObjectsMatchingName(const QString& className, Registry registry = nullptr);
    // Nothing for an empty key; the service-plane entries below the root having that property, in walk order.
    static std::optional<EntryList> serviceObjectsContainingPropertyWithKey(const QString& key,
                                                                           Registry registry = nullptr);
    // ("IODeviceTree", "/rom"): the entry at "IODeviceTree:/rom", or null.
    static std::shared_ptr<TEVIORegistryEntry> registryEntryInPlane(const QString& plane, const QString& absolutePath,
                                                                    Registry registry = nullptr);

    // Null for a null handle.
    static std::shared_ptr<TEVIORegistryEntry> createWithIOKitHandle(Handle handle);
    // No entry: every reader gives its absent result.
    TEVIORegistryEntry() = default;

    const Handle& ioKitHandle() const { return handle_; }
    // The same entry answering every read from its properties as they are now: one read of the host for a
    // readout that takes many values.
    std::shared_ptr<TEVIORegistryEntry> snapshot() const;
    bool isSnapshot() const { return frozen_.has_value(); }

    std::shared_ptr<TEVIORegistryEntry> parentServiceEntry() const;
    std::shared_ptr<TEVIORegistryEntry> childServiceEntry() const;
    // "IOClass" of the nearest entry, this one or an ancestor, that has "CFBundleIdentifier"; null otherwise.
    QString driverClassName() const;

    std::optional<QVariantMap> properties() const;
    bool hasValueWithName(const QString& name) const;
    // A string, or data up to its first NUL decoded as UTF-8; null when absent, of another kind or not UTF-8.
    QString stringValueWithName(const QString& name) const;
    // -1 when absent, not a number or not representable as a signed 64-bit integer (callers take -1 as none).
    qint64 integerValueWithName(const QString& name) const;
    // Only a boolean property counts: the number 1 reads as false.
    bool boolValueWithName(const QString& name) const;
    std::optional<QVariantList> arrayValueWithName(const QString& name) const;
    // "TEVIORegistryEntry: <properties as property-list text>\n"; "(null)" for no entry.
    QString description() const;

    explicit TEVIORegistryEntry(Handle handle) : handle_(std::move(handle)) {} // use createWithIOKitHandle

private:
    QVariant value(const QString& name) const;

    Handle handle_;
    std::optional<QVariantMap> frozen_;
};
