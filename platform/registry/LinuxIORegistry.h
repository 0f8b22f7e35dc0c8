#pragma once
// The live I/O Registry on Linux: entries synthesised from sysfs by providers, all reading under one host
// root. Stateless; the tree is built per call and its properties read the host anew on every access
// (IORegistry::current() keeps one up to date).

#include "platform/foundation/HostRoot.h"
#include "platform/registry/IORegistry.h"

#include <memory>
#include <optional>
#include <vector>

namespace platform {

// Adds the entries of one kind of hardware below the root. Providers keep the host root they need for
// live reads (by value: it is a small immutable path).
class IORegistryProvider {
public:
    virtual ~IORegistryProvider() = default;
    virtual void addEntries(const HostRoot& root, IORegistry::Builder& builder) const = 0;
    // A cheap reading (folder listings, a few state files) of what the provider's entries depend on, so the
    // live registry rebuilds them only when hardware came or went. Nothing (the default) for hardware that
    // stays for the life of the process: its entries are built once.
    virtual std::optional<QByteArray> changeSignature(const HostRoot&) const { return std::nullopt; }
};

class LinuxIORegistry {
public:
    // The providers in the order their entries appear below the root.
    static std::vector<std::shared_ptr<const IORegistryProvider>> defaultProviders();
    static std::shared_ptr<const IORegistry> build(const HostRoot& root);
    static std::shared_ptr<const IORegistry> build(const HostRoot& root,
                                                   const std::vector<std::shared_ptr<const IORegistryProvider>>& providers);
};

} // namespace platform
