#include "platform/registry/DrmDisplayProvider.h"

#include "platform/foundation/Values.h"

namespace platform {

namespace {

const QString drmFolder = QStringLiteral("/sys/class/drm");
// EDID base block plus at most 255 extension blocks.
constexpr qsizetype kMaxEdidBytes = 256 * 128;

class DisplayPropertySource final : public IORegistryPropertySource {
public:
    DisplayPropertySource(HostRoot root, QString connector) : root_(std::move(root)), connector_(std::move(connector)) {}

    QVariantMap properties() const override
    {
        QVariantMap result{{QStringLiteral("IODisplayConnectorName"), values::fromString(connector_)}};
        const auto edid = root_.readFile(drmFolder + QLatin1Char('/') + connector_ + QStringLiteral("/edid"), kMaxEdidBytes);
        if (edid && !edid->isEmpty())
            result.insert(QStringLiteral("IODisplayEDID"), values::fromData(*edid));
        return result;
    }

    QString identity() const override { return QStringLiteral("drm/") + connector_; }

private:
    HostRoot root_;
    QString connector_;
};

// "card0-eDP-1" → "eDP-1"; connector folders are the ones named card<N>-<connector>.
QString connectorType(const QString& folder)
{
    const qsizetype dash = folder.indexOf(QLatin1Char('-'));
    const QString connector = folder.mid(dash + 1);
    return connector.left(connector.lastIndexOf(QLatin1Char('-')));
}

bool isBuiltIn(const QString& type)
{
    return type == QLatin1String("eDP") || type == QLatin1String("LVDS") || type == QLatin1String("DSI");
}

} // namespace

std::optional<QByteArray> DrmDisplayProvider::changeSignature(const HostRoot& root) const
{
    // Connector folders stay while displays come and go; their status (cached by the kernel, no probe of
    // the display) tells, and the EDID of a connected one, which may arrive just after its status.
    QByteArray signature;
    for (const QString& name : root.listDirectory(drmFolder).value_or(QStringList())) {
        if (!name.startsWith(QLatin1String("card")) || !name.contains(QLatin1Char('-')))
            continue;
        const QString folder = drmFolder + QLatin1Char('/') + name;
        const QByteArray status = root.readFile(folder + QStringLiteral("/status"), 64).value_or(QByteArray()).trimmed();
        signature += name.toUtf8() + ' ' + status;
        if (status == "connected")
            signature += ' ' + QByteArray::number(root.readFile(folder + QStringLiteral("/edid"), kMaxEdidBytes).value_or(QByteArray()).size());
        signature += '\n';
    }
    return signature;
}

void DrmDisplayProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    const auto names = root.listDirectory(drmFolder);
    if (!names)
        return;
    for (const QString& name : *names) {
        if (!name.startsWith(QLatin1String("card")) || !name.contains(QLatin1Char('-')))
            continue;
        const QString folder = drmFolder + QLatin1Char('/') + name;
        const auto status = root.readTextFile(folder + QStringLiteral("/status"));
        if (!status || status->trimmed() != QLatin1String("connected"))
            continue;
        const auto edid = root.readFile(folder + QStringLiteral("/edid"), kMaxEdidBytes);
        if (!edid || edid->isEmpty())
            continue;
        const QString display =
            isBuiltIn(connectorType(name)) ? QStringLiteral("AppleBacklightDisplay") : QStringLiteral("AppleDisplay");
        builder.add(IORegistry::RootIndex,
                    {display, QStringLiteral("IODisplay"), QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")},
                    name.mid(name.indexOf(QLatin1Char('-')) + 1), std::make_shared<DisplayPropertySource>(root, name));
    }
}

} // namespace platform
