#pragma once
// Registry provider for the "AppleSMC" entry of the applesmc platform device. Its "smc-version" is read
// from the "REV " key once per registry build, through the connection the process's SMC reader uses, and
// left out when the SMC cannot be read (the applesmc index needs root). Stateless apart from its factory.

#include "platform/hardware/SmcConnection.h"
#include "platform/registry/LinuxIORegistry.h"

#include <functional>

namespace platform {

class AppleSmcProvider final : public IORegistryProvider {
public:
    using ConnectionFactory = std::function<std::unique_ptr<SmcConnection>(const HostRoot&)>;

    // Without a factory: SmcConnection::forCurrentComputer under the root being read.
    explicit AppleSmcProvider(ConnectionFactory factory = {});

    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;

private:
    ConnectionFactory factory_;
};

} // namespace platform
