#include "platform/registry/AppleSmcProvider.h"

#include "platform/foundation/Log.h"

#include <QFileInfo>

#include <utility>

namespace platform {

namespace {

const QString deviceFolder = QStringLiteral("/sys/devices/platform/applesmc.768");

} // namespace

AppleSmcProvider::AppleSmcProvider(ConnectionFactory factory) : factory_(std::move(factory))
{
    if (!factory_) {
        factory_ = [](const HostRoot& root) {
            return SmcConnection::forCurrentComputer(std::make_shared<const HostRoot>(root));
        };
    }
}

void AppleSmcProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    if (!QFileInfo(root.path(deviceFolder)).isDir())
        return;

    QVariantMap properties;
    if (auto connection = factory_(root)) {
        if (const int error = connection->open()) {
            log("AppleSmcProvider", QStringLiteral("SMC not readable (error %1), no \"smc-version\"").arg(error));
        } else {
            // "smc-version" marks a usable SMC. Later controllers have no revision key at all: they are still
            // usable, with a version nobody can name, so they publish it empty rather than not at all.
            if (const auto version = connection->versionText())
                properties.insert(QStringLiteral("smc-version"), *version);
            else if (connection->keyInfo(SmcConnection::fourCharCode(QStringLiteral("REV "))).result == smcresult::KeyNotFound)
                properties.insert(QStringLiteral("smc-version"), QString());
            else
                log("AppleSmcProvider", QStringLiteral("no readable \"REV \" key, no \"smc-version\""));
            connection->close();
        }
    }
    builder.add(IORegistry::RootIndex,
                {QStringLiteral("AppleSMC"), QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")},
                QStringLiteral("AppleSMC"), std::make_shared<StaticIORegistryPropertySource>(properties));
}

} // namespace platform
